// What every scanner shares: the scan's running state, the common line step (read, poll for
// a stop request, know the position after the line) and the line rules of the indexer types
// (blanks, prefixes, blank lines, words, the key of a data line).
#pragma once

#include "index_files.h"
#include "line_reader.h"
#include "offset_table.h"
#include "settings.h"

#include <cstdint>
#include <string>

namespace flatmark {

constexpr std::size_t kKeyBuffer = 256; // a key is at most 255 characters
constexpr std::size_t kNoMatch = static_cast<std::size_t>(-1);

struct ScanCore {
    ScanCore(const Settings& s, IndexFiles& f, LineReader& r) : settings(s), files(f), reader(r) {}

    const Settings& settings;
    IndexFiles& files;
    LineReader& reader;
    char key[kKeyBuffer] = {}; // the current key; kept until the next key is read
    std::size_t keyLength = 0;
    std::uint32_t entries = 0; // N
    std::uint32_t lines = 0;   // L
};

// The common line step: reads a line and polls the host once; false at the end of the input.
// A stop request or a read error closes both files and raises.
bool next_line(ScanCore& core, Line& line);
// A line read without polling (the record lines of "fastq", the header pass of "flat").
bool next_line_unpolled(ScanCore& core, Line& line);
// Moves the input to a position within what was read; raises on a failed seek.
void seek_input(ScanCore& core, std::uint64_t position);

// Index of the first character at or after from that is not a space (0x20).
std::size_t skip_blanks(const Line& line, std::size_t from);
// True when, after the blanks, the first character is a carriage return or a line feed.
bool is_blank_line(const Line& line);
// Where the comparison with prefix p stopped when the line (after its blanks) begins with p:
// past p, or at a line feed met before all of p was compared. kNoMatch when it does not.
std::size_t prefix_end(const Line& line, const std::string& prefix);
inline bool begins_with(const Line& line, const std::string& prefix) {
    return prefix_end(line, prefix) != kNoMatch;
}
// The end of the line's content: its line feed, or the end of the text read.
std::size_t content_end(const Line& line);

// Reads the word at or after from (white space skipped) into the key buffer. blankAt, unless
// kNoMatch, is a character read as a blank (the "," rule). False, key unchanged, when there is
// no word; a word longer than 255 characters closes both files and raises KeyTooLong.
bool read_key(ScanCore& core, const Line& line, std::size_t from, std::size_t blankAt = kNoMatch);
// Writes the key buffer and a line feed to the index file.
void write_key(ScanCore& core);

// Steps 1 to 3 of the key rule for "mrtab" and "table": skips K fields separated by the field
// delimiter and returns where the key starts; a missing field raises KeyNotFound.
std::size_t find_key_start(ScanCore& core, const Line& line);
// Step 4: reads the key that starts at keyStart (with the "," rule) into the key buffer.
bool read_data_line_key(ScanCore& core, const Line& line, std::size_t keyStart);

// What a line of a "mrtab" or "table" file is. headerDetection is the scan's running state.
enum class TableLineKind { Skipped, Data };
TableLineKind classify_table_line(const Settings& settings, const Line& line,
                                  bool& headerDetection);

} // namespace flatmark
