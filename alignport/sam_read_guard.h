// SAM text read through the BAM library, checked before the library parses it: the header lines
// in a scan of the file made before it is opened, and every record line, at link time, in a
// wrapper of the library's sam_read1 (sam_line_checks.h has the rules). A refused record is a
// read error of the library's read, so every caller of samread sees it as one.
#pragma once

#include "sam_line_checks.h"

#include <samtools/sam.h>

#include <cstddef>
#include <cstdint>

namespace alignport {

// What the scan of a SAM text found (plain or gzip-compressed, read as the library reads it).
struct SamTextScan {
    bool opened = false;      // false: the file cannot be read (nothing else is set)
    bool header_sound = true; // false: the header line numbered line fails; problem says why
    bool has_records = false; // a record follows the header (blank lines are no records)
    std::uint64_t line = 0;
    SamLineProblem problem;
};

// Reads the header of the named file once, checking each line, and looks for a first record:
// a byte other than a field separator (tab, line feed, carriage return, vertical tab, form feed)
// after the header lines, as the library's reader skips those between records. The header is
// the lines at the start of the file that begin with '@'.
SamTextScan scan_sam_text(const char* name);

// Result of samread on SAM text when the record line at hand failed the checks; the line and
// the reason are then in last_sam_line_failure(). After it the file may only be closed.
constexpr int kSamLineRefused = -64;

struct SamLineFailure {
    std::uint64_t line = 0; // 1-based line number in the file
    SamLineProblem problem;
};

// The record line most recently refused in this process.
const SamLineFailure& last_sam_line_failure();

// "SAM line N: REASON" into out (always terminated); "SAM line N has more than 65535 CIGAR
// operations." for a line of more operations than BAM stores.
void format_sam_line_message(std::uint64_t line, const SamLineProblem& problem, char* out,
                             std::size_t size);

// True when record lines are checked (the build wraps sam_read1); header checks always run.
bool sam_record_checks_active();

// Where sam_read1 is not wrapped: makes the library's first record read skip the blank line (or
// leading separator) that ended the header, as it skips them between records; it would otherwise
// read an empty QNAME and take the next line's fields. Only SAM text handles are touched.
void settle_first_sam_read(samfile_t* file);

// Longest record line the wrapper takes into the library's stream buffer.
constexpr std::size_t kMaxSamLineBytes = std::size_t{1} << 30;

} // namespace alignport
