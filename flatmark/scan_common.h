// What every scanner shares: the scan's running state, the common line step (read, poll for
// a stop request, know the position after the line) and the line rules of the indexer types
// (blanks, prefixes, blank lines, words, the key of a data line).
#pragma once

#include "contract.h"
#include "hx.h"
#include "index_files.h"
#include "line_reader.h"
#include "offset_table.h"
#include "settings.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace flatmark {

constexpr std::size_t kKeyBuffer = 256; // a key is at most 255 characters
static_assert(kKeyBuffer % kCopyPiece == 0, "keys are copied in whole pieces");
constexpr std::size_t kNoMatch = static_cast<std::size_t>(-1);

struct ScanCore {
    ScanCore(const Settings& s, IndexFiles& f, LineReader& r) : settings(s), files(f), reader(r) {}

    const Settings& settings;
    IndexFiles& files;
    LineReader& reader;
    // The current key (key_length characters, not zero-terminated), kept until the next key is
    // read. Copied in whole 16-byte pieces, so no single byte is stored into it.
    char key[kKeyBuffer] = {};
    std::size_t key_length = 0;
    // The number of entries: the index file's header holds it in 32 bits, so the scan refuses
    // the 2^32-th entry (count_entry) rather than let the count wrap. The number of lines
    // counted has no such limit: no file stores it, and a file can hold more than 2^32 - 1
    // lines in fewer entries (a FASTQ of 1.1 billion reads).
    std::uint32_t entries = 0;
    std::uint64_t lines = 0;
};

constexpr std::uint32_t kMaxEntries = 0xFFFFFFFFu;

// A read error or a stop request: closes both files and raises.
[[noreturn]] void fail_read(ScanCore& core);
[[noreturn]] void fail_interrupted(ScanCore& core);
// The 2^32-th entry, which begins at byte start: closes both files and raises TooManyEntries.
[[noreturn]] void fail_too_many_entries(ScanCore& core, std::uint64_t start);

// Counts one more entry, which begins at byte start; raises before the count would wrap.
inline void count_entry(ScanCore& core, std::uint64_t start) {
    if (core.entries == kMaxEntries)
        fail_too_many_entries(core, start);
    ++core.entries;
}

// A line read without polling (the record lines of "fastq", the header pass of "flat").
inline bool next_line_unpolled(ScanCore& core, Line& line) {
    const ReadStatus status = core.reader.read(line);
    if (status == ReadStatus::Line)
        return true;
    if (status == ReadStatus::End)
        return false;
    fail_read(core);
}
// The common line step: reads a line and polls the host once; false at the end of the input.
// Inline, as it runs once a line.
inline bool next_line(ScanCore& core, Line& line) {
    if (!next_line_unpolled(core, line))
        return false;
    if (HostInterrupt::HandlePendingInterrupt())
        fail_interrupted(core);
    return true;
}
// Moves the input to a position within what was read; raises on a failed seek.
void seek_input(ScanCore& core, std::uint64_t position);

// Read access to the line being scanned, for the line rules below, which are written once for
// both kinds of line. A line that fits the reader's buffer is a WholeLine: plain offsets into
// its bytes. A long line is a LongLine: a window over its bytes (see Line) that has() moves on
// when a rule asks for a byte past it. Rules look forward from where they start; they start
// again only at the line's start, over its leading spaces (which skip_blanks passes over when
// the window has moved past them), or within a key's length of a byte already asked for, so
// no rule asks for a byte before the window. A scanner picks the kind once a line.
struct WholeLine {
    ScanCore& core;
    Line& line;
    bool has(std::size_t i) const { return i < line.size; }
    char at(std::size_t i) const { return line.text[i]; }
    // The bytes from offset i on that the window holds (at least kLineLookback when has(i)
    // found them and the line goes on), followed by kLinePadding readable bytes.
    const char* bytes_from(std::size_t i) const { return line.text + i; }
    std::size_t held_from(std::size_t i) const { return line.size - i; }
    std::size_t window_start() const { return 0; }
    std::uint64_t after() const { return line.after; }
};

bool extend_line(ScanCore& core, Line& line, std::size_t i);
void finish_line(ScanCore& core, Line& line);

struct LongLine {
    ScanCore& core;
    Line& line;
    bool has(std::size_t i) const {
        return i - line.base < line.size || (line.open && extend_line(core, line, i));
    }
    char at(std::size_t i) const { return line.text[i - line.base]; }
    const char* bytes_from(std::size_t i) const { return line.text + (i - line.base); }
    std::size_t held_from(std::size_t i) const { return line.base + line.size - i; }
    std::size_t window_start() const { return line.base; }
    // The position right after the line, read on to when needed (the window is gone then).
    std::uint64_t after() const {
        if (line.open)
            finish_line(core, line);
        return line.after;
    }
};

// The position right after the line just read, whatever its kind.
inline std::uint64_t line_after(ScanCore& core, Line& line) {
    return LongLine{core, line}.after();
}
// Runs handle with the access that fits the line just read.
template <class Handle> void with_line_access(ScanCore& core, Line& line, Handle&& handle) {
    if (line.open)
        handle(LongLine{core, line});
    else
        handle(WholeLine{core, line});
}

// These line rules run once a line or more, so they are inline.

// Offset of the first character at or after from that is not a space (0x20).
template <class Text> inline std::size_t skip_blanks(const Text& text, std::size_t from) {
    if (from < text.window_start())
        from = text.window_start(); // every byte before the window is a leading space
    while (text.has(from) && text.at(from) == ' ')
        ++from;
    return from;
}
// True when, after the blanks, the first character is a carriage return or a line feed.
template <class Text> inline bool is_blank_line(const Text& text) {
    const std::size_t i = skip_blanks(text, 0);
    return text.has(i) && (text.at(i) == '\r' || text.at(i) == '\n');
}
// Where the comparison with prefix p stopped when the line (after its blanks) begins with p:
// past p, or at a line feed met before all of p was compared. kNoMatch when it does not.
template <class Text> inline std::size_t prefix_end(const Text& text, const std::string& prefix) {
    std::size_t i = skip_blanks(text, 0);
    for (std::size_t k = 0; k < prefix.size(); ++k, ++i) {
        if (!text.has(i))
            return kNoMatch; // the end of a last line without line feed is no match
        const char c = text.at(i);
        if (c == '\n')
            return k == 0 ? kNoMatch : i;
        if (c != prefix[k])
            return kNoMatch;
    }
    return i;
}
template <class Text> inline bool begins_with(const Text& text, const std::string& prefix) {
    return prefix_end(text, prefix) != kNoMatch;
}

// Reads the word at or after from (white space skipped) into the key buffer. With comma_is_blank
// the first comma at or after from is read as a blank (the "," rule). False, key unchanged,
// when there is no word; a word longer than 255 characters closes both files and raises
// KeyTooLong. Defined for WholeLine and LongLine.
template <class Text>
bool read_key(const Text& text, std::size_t from, bool comma_is_blank = false);
// read_key on the line just read, whatever its kind.
inline bool read_line_key(ScanCore& core, Line& line, std::size_t from) {
    return line.open ? read_key(LongLine{core, line}, from) : read_key(WholeLine{core, line}, from);
}
// Writes the key buffer and a line feed to the index file.
inline void write_key(ScanCore& core) {
    core.files.append_key_line(core.key, core.key_length);
}

// The key rule for "mrtab" and "table", first part: skips key_field_count fields (input 7),
// separated by the field delimiter, and returns where the key starts; a missing field raises
// KeyNotFound.
template <class Text> inline std::size_t find_key_start(const Text& text) {
    ScanCore& core = text.core;
    const char delimiter = core.settings.field_delimiter;
    std::size_t i = skip_blanks(text, 0);
    for (unsigned field = 0; field < core.settings.key_field_count; ++field) {
        for (;; ++i) {
            if (!text.has(i))
                core.files.fail(Error::KeyNotFound);
            const char c = text.at(i);
            if (c == delimiter)
                break;
            if (c == '\n')
                core.files.fail(Error::KeyNotFound);
        }
        ++i;
        if (delimiter == ' ')
            i = skip_blanks(text, i);
    }
    return i;
}
// Second part: reads the key that starts at key_start (with the "," rule) into the key buffer.
template <class Text> inline bool read_data_line_key(const Text& text, std::size_t key_start) {
    return read_key(text, key_start, text.core.settings.field_delimiter == ',');
}

// What a line of a "mrtab" or "table" file is. header_detection is the scan's running state.
enum class TableLineKind { Skipped, Data };
template <class Text>
inline TableLineKind classify_table_line(const Text& text, bool& header_detection) {
    const Settings& settings = text.core.settings;
    if (is_blank_line(text))
        return TableLineKind::Skipped;
    if (!settings.comment_prefix.empty())
        return begins_with(text, settings.comment_prefix) ? TableLineKind::Skipped
                                                          : TableLineKind::Data;
    if (header_detection) {
        if (begins_with(text, settings.header_prefix))
            return TableLineKind::Skipped;
        header_detection = false;
    }
    return TableLineKind::Data;
}

} // namespace flatmark
