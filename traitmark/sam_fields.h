// Reading SAM columns from the line of one entry, and the SAM features computed from them.
// Columns are found by position: runs of blanks, tabs, carriage returns, vertical tabs and
// form feeds separate them, and the line feed ends the entry's line. A column never comes
// from the next line: a missing column, or a number column that is not wholly decimal
// digits, makes the entry unreadable and its value 0.
#pragma once

#include "cigar_ops.h"
#include "input_window.h"

#include <cstddef>
#include <cstdint>

namespace traitmark {

// Longest token (QNAME, RNAME, CIGAR) that the working buffer holds.
constexpr std::size_t kMaxToken = 65535;

enum class ReadOutcome { Read, Unreadable, TokenTooLong };

struct CigarWalk {
    bool valid = true;        // false: an operation character due is not one of MIDNSHP=X
    bool unavailable = false; // the token begins with "*": nothing was walked
    hxb::CigarSpans spans;    // query and reference lengths; the reference span is
                              // stored modulo 2^32
};

// Walks a CIGAR token character by character as it is read, so a CIGAR of any length needs no
// buffer: each operation is a run of decimal digits (none gives the length 0) followed by
// exactly one operation character; the end of the token right after digits and lower-case
// letters are invalid.
class CigarWalker {
public:
    void add(char c);
    CigarWalk finish(); // after the token's last character

private:
    CigarWalk walk_;
    std::uint32_t operation_length_ = 0;
    bool started_ = false;
    bool digits_pending_ = false; // digits read since the last operation character
    bool done_ = false;           // the walk's result is known: the rest of the token is passed
};

// What one pattern read from the entry's line.
struct SamColumns {
    std::uint64_t number = 0;     // the column read as a number (saturating at 2^64 - 1)
    std::size_t token_length = 0; // the column read as text is in the caller's buffer
    CigarWalk cigar;              // the column walked as a CIGAR
};

// Reads the columns of pattern from the current position, one letter per column, as the
// column language beside FeatureRow (contract.h) defines it: 'S' stores its token in buffer
// (kMaxToken + 1 bytes, left without a terminating zero), 'C' walks its token as a CIGAR as it
// streams by (no length limit). TokenTooLong: an 'S' column of more than kMaxToken characters,
// never stored whole.
ReadOutcome read_sam_columns(InputWindow& in, const char* pattern, char* buffer,
                             SamColumns& columns);

} // namespace traitmark
