// Checks of SAM text lines made before the BAM library's SAM reader sees them. The library's
// reader trusts its input: a second @SQ without SN crashes its header hash, an array tag with
// garbage numbers writes past its buffer, a long QNAME wraps an 8-bit length, and most numeric
// fields wrap or turn into garbage without a word. A line these checks pass is one the library
// reads exactly as a SAM reader should; every other line is refused with a short reason.
// Pure functions over bytes in memory: no file, no library call (fuzz targets call them as is).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>

namespace alignport {

// What is wrong with a refused line: its 1-based column (0 for the line as a whole) and a
// sentence such as "QNAME longer than 254 characters." (ASCII, at most 95 characters).
struct SamLineProblem {
    unsigned column = 0;
    char reason[96] = {};
    // The line holds more CIGAR operations than BAM can store (65535): a sound line of a long
    // read, not damage, so its message says so in words of its own.
    bool too_many_cigar_operations = false;
};

// Longest QNAME the library stores: its length and terminating zero fill an 8-bit count.
constexpr std::size_t kMaxQnameChars = 254;
// Largest record data the library's reader may allocate: its sizes are ints rounded up to a
// power of two, so anything above 2^30 overflows.
constexpr std::uint64_t kMaxRecordDataBytes = std::uint64_t{1} << 30;

// Checks one alignment line: text holds the line without its line feed and without the carriage
// return of a CRLF ending, and starts at its QNAME (the library skips blank lines and leading
// separators before a record). True when the library reads the line correctly; false with
// *problem filled otherwise (problem may be null).
bool check_sam_line(const char* text, std::size_t length, SamLineProblem* problem);

// Checks the header lines of one file in order (each given as check_sam_line takes a line). @SQ
// lines need exactly one SN (non-empty, not repeated by an earlier @SQ) and one LN (an integer in
// 1..2147483647); tagged lines other than @CO need TAG:VALUE fields without empty fields between
// them, which the library's header parser otherwise reads past or leaks on.
class SamHeaderChecker {
public:
    // True when the line is sound; false with *problem filled (problem may be null).
    bool check_line(const char* text, std::size_t length, SamLineProblem* problem);

private:
    std::unordered_set<std::string> names_;
};

} // namespace alignport
