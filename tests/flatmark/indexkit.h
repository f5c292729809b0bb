// Helpers of the flatmark suite: a request with every input at a usable default, the call
// through the host, and an independent reader of the index file the call writes.
#pragma once

#include "testkit.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace indexkit {

// The twelve inputs; each can be replaced by an arbitrary array through `override`.
struct Request {
    std::string type = "fasta";
    std::string input;
    std::string index;
    double wide = 0;        // input 4
    double consecutive = 1; // input 5
    double keys = 1;        // input 6
    double key_fields = 0;  // input 7
    std::string key_token;
    std::string comment_prefix;
    std::string header_prefix;
    std::string field_delimiter = "\t";
    std::string entry_delimiter;
    // Input k (1-based) made by this function instead of from the field above.
    std::vector<std::pair<int, std::function<hxhost::ArrayPtr()>>> overrides;

    Request& set(int position, std::function<hxhost::ArrayPtr()> make);
    testkit::Inputs inputs() const;
};

hxhost::CallResult run(const Request& request, int outCount = 2,
                       const hxhost::CallOptions& options = {});

// A temporary folder and a request of one type over one input text.
class ScanFixture : public ::testing::Test {
protected:
    testkit::TempDir dir;
    Request request(const std::string& type, const std::string& text) const {
        Request r;
        r.type = type;
        r.input = dir.write_text("in.txt", text);
        r.index = dir.file("out.idx");
        return r;
    }
};

// Output k (from 0) as a double.
double output(const hxhost::CallResult& result, int k);

// The index file as the format describes it, read without any of the plug-in's code.
struct IndexFile {
    std::string magic;   // bytes 0..5
    int magic_byte = -1; // byte 6
    std::string version; // bytes 7..10
    int reserved = -1;   // byte 11
    std::uint32_t entries = 0;
    std::uint64_t keys_position = 0;
    std::uint64_t table_position = 0;
    int layout = -1;
    int width_byte = -1;
    std::string entry_delimiter;        // from byte 34 up to the TAB
    bool zero_after_tab = false;        // the terminator after the TAB, then zero padding to 511
    std::vector<std::string> keys;      // the key lines, without their line feeds
    std::vector<std::uint64_t> offsets; // the offset table, in the width the header gives
};

IndexFile parse_index(const std::string& bytes);
IndexFile read_index(const std::string& path);

// Little-endian bytes of a value, for building expected files.
std::string le32(std::uint32_t value);
std::string le64(std::uint64_t value);

// Starts of the lines of text (0 and each position after a line feed that is not the end).
std::vector<std::uint64_t> line_starts(const std::string& text);

// The text with every "\n" turned into the given line ending, and the final one dropped when
// final_newline is false.
std::string with_endings(const std::string& lf_text, const std::string& ending, bool final_newline);

} // namespace indexkit
