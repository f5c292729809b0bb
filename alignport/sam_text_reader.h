// Line-by-line reading of SAM text for saminfo: lines arrive as pieces of at most 4094
// characters (a longer line arrives in several pieces, each handled as a line of its own), and
// the fields that saminfo needs are scanned in place, without copying the line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace alignport {

constexpr std::size_t kSamPieceChars = 4094;

class SamTextReader {
public:
    explicit SamTextReader(std::FILE* file);
    // Next piece: up to and including its line feed, at most kSamPieceChars characters. False at
    // the end of the file or on a read error (failed() tells which).
    bool next(const char** text, std::size_t* length);
    // File offset of the next piece.
    std::uint64_t tell() const { return bufferOffset_ + begin_; }
    // Continues reading at offset (one that tell() gave). False when the file cannot seek.
    bool seek(std::uint64_t offset);
    bool failed() const { return failed_; }

private:
    bool refill();

    std::FILE* file_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t bufferOffset_ = 0; // file offset of buffer_[0]
    bool atEnd_ = false;
    bool failed_ = false;
};

// The fields of an alignment line that saminfo reads, scanned as the format "%*s%*d%s%d" scans
// them: QNAME skipped, FLAG read as an integer and skipped, RNAME, POS. Blank characters are
// those of the C locale; a zero byte ends the text.
struct AlignmentFields {
    const char* name;
    std::size_t nameLength;
    std::int32_t position;
};
bool scan_alignment_fields(const char* text, std::size_t length, AlignmentFields* fields);

} // namespace alignport
