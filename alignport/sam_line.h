// SAM text lines of records, as the writers, the SAM output of conversions and the dumps produce
// them: the text bam_format1 makes (sam_format.h), in a buffer that grows to the longest line met
// and is then reused.
#pragma once

#include <samtools/bam.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace alignport {

// One reusable line: text holds the SAM line, a line feed and a terminating zero.
struct SamLine {
    std::vector<char> text;
    std::size_t length = 0; // characters before the line feed
};

// True when the record's reference and mate reference are -1 or name a reference of header
// (the library's formatting reads the names unchecked).
bool names_known_references(const bam_header_t* header, const bam1_t* record);

// Formats record with header into line (format_sam_record), replacing what it held. Lines of any
// length are kept whole. False, with line untouched, for a record that names a reference the
// header lacks (a damaged file). Throws std::bad_alloc when memory runs out.
bool format_sam_line(const bam_header_t* header, const bam1_t* record, SamLine& line);

// Cuts the line at its eleventh tab, leaving the eleven mandatory columns; a line with fewer
// tabs stays whole.
void keep_mandatory_columns(SamLine& line);

// The line with its line feed, for one write.
inline const char* line_with_feed(const SamLine& line, std::size_t* size) {
    *size = line.length + 1;
    return line.text.data();
}

} // namespace alignport
