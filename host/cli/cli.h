// hxrun, the command-line host: the pieces main.cpp puts together. Literals become input
// arrays; outputs leave as a JSON document, .npy files or a short human-readable print.
#pragma once

#include "hxhost.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace hxrun {

// A mistake in what the user typed (a malformed literal, a bad option, a missing file):
// hxrun reports it and exits with status 2 without calling the plug-in.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Turns one command-line word into a new array (text, str:, CLASS:VALUES, complex:CLASS:VALUES,
// CLASS@PATH, cell:{...}). Throws UsageError saying what is wrong with the word.
hxhost::ArrayPtr parse_literal(const std::string& word);

// The bytes of an input file named in a CLASS@PATH word. Throws UsageError when it cannot.
std::string read_input_file(const std::string& path);

// Reads a .npy file whose dtype is that of cls as an n-by-1 column of its values in file
// order. Throws UsageError for a file that cannot be read, is not .npy or has another dtype.
hxhost::ArrayPtr read_npy(const std::string& path, haClassID cls);

// Writes a numeric, logical or char array (char as uint16) as a .npy file in column order.
// Throws std::runtime_error when the file cannot be written.
void write_npy(const std::string& path, const haArray* array);

// One output as a JSON object ({"class", "dims", "data"} or {"class", "dims", "text"});
// "null" for an unset slot or cell element.
std::string json_array(const haArray* array);

// The whole document of one call: outcome, outputs, poll counts and open descriptors
// (a negative count is written as null).
std::string json_document(const hxhost::CallResult& result, int fds_before, int fds_after);

// Prints each output in a short human-readable form.
void print_outputs(std::FILE* out, const std::vector<hxhost::ArrayPtr>& outputs);

} // namespace hxrun
