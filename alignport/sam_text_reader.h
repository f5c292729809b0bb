// Line-by-line reading of SAM text for saminfo: a line is one line whatever its length, and the
// fields that saminfo needs are scanned in place. A line of up to kHeldLineChars characters is
// handed over whole, straight from the read buffer; of a longer one only its first
// kHeldLineChars characters are kept (saminfo reads the first four fields and the line's first
// characters only) and the rest streams by, so memory stays bounded whatever the line length.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace alignport {

constexpr std::size_t kHeldLineChars = std::size_t(1) << 20;

class SamTextReader {
public:
    explicit SamTextReader(std::FILE* file);
    // Next line: up to and including its line feed (the last line of a file may have none), or
    // the first kHeldLineChars characters of a longer line, which is then passed over. False at
    // the end of the file or on a read error (failed() tells which).
    bool next(const char** text, std::size_t* length) {
        // Inline fast path: a whole line already in the buffer.
        const std::size_t avail = end_ - begin_;
        const char* start = buffer_.data() + begin_;
        const void* feed = std::memchr(start, '\n', avail);
        if (feed == nullptr)
            return next_slow(text, length);
        const std::size_t n = static_cast<std::size_t>(static_cast<const char*>(feed) - start) + 1;
        *text = start;
        *length = n;
        begin_ += n;
        return true;
    }
    // File offset of the next line.
    std::uint64_t tell() const { return buffer_offset_ + begin_; }
    // Continues reading at offset (one that tell() gave). False when the file cannot seek.
    bool seek(std::uint64_t offset);
    bool failed() const { return failed_; }

private:
    bool next_slow(const char** text, std::size_t* length);
    bool refill();
    // Passes over the rest of a line, through its line feed.
    void skip_rest_of_line();

    std::FILE* file_;
    std::vector<char> buffer_;
    std::vector<char> held_; // the kept start of a line longer than kHeldLineChars
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t buffer_offset_ = 0; // file offset of buffer_[0]
    bool at_end_ = false;
    bool failed_ = false;
};

// The fields of an alignment line that saminfo reads, scanned as the format "%*s%*d%s%d" scans
// them: QNAME skipped, FLAG read as an integer and skipped, RNAME, POS. Blank characters are
// those of the C locale; a zero byte ends the text.
struct AlignmentFields {
    const char* name;
    std::size_t name_length;
    std::int32_t position;
};
bool scan_alignment_fields(const char* text, std::size_t length, AlignmentFields* fields);
// The same scan character by character, for every shape of line. scan_alignment_fields takes a
// shortcut for the usual shape (four fields in the first 64 bytes, one tab between them, FLAG
// and POS plain digits) and falls back to this for anything else.
bool scan_alignment_fields_in_full(const char* text, std::size_t length, AlignmentFields* fields);

} // namespace alignport
