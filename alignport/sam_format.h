// The SAM text of one record, made by the plug-in itself: byte for byte what the library's
// bam_format1 makes of the same record with the same header, read as a C text (up to its first
// zero byte), without a growing string or a formatting call per number.
#pragma once

#include <samtools/bam.h>

#include <cstddef>
#include <vector>

namespace alignport {

// Writes the SAM line of record with header (the eleven mandatory columns and the optional
// fields, tab-separated, no line feed) into out from index at, followed by room for at least two
// more bytes; returns its length. out grows when the line does not fit (what it held before at
// is kept) and is otherwise reused.
// Records whose bytes the library would read beyond their stated lengths (a reference number
// the header lacks, lengths that overrun the data, CIGAR operation codes above 10, truncated
// optional fields, B arrays of an unknown element type) are handed to bam_format1 itself, so
// the text is the library's in every case. Throws std::bad_alloc when memory runs out.
std::size_t format_sam_record(const bam_header_t* header, const bam1_t* record,
                              std::vector<char>& out, std::size_t at = 0);

// True when format_sam_record makes the record's text itself rather than through the library.
bool formats_without_library(const bam_header_t* header, const bam1_t* record);

} // namespace alignport
