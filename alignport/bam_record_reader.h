// What the checked BAM reader (bam_record_reader.cpp) tells about the reads it served. Where the
// linker cannot wrap the library's readers, nothing reaches it and every count stays 0.
#pragma once

#include <samtools/bgzf.h>

namespace alignport {

// Record reads made inside the library (by its index builder and sorter as well as by samread)
// that ended in a read error, a result below -1, so far in this process. The index builder and
// the sorter print such an error and carry on as if the file had ended there; comparing this
// count before and after their call tells; records the checked reader refuses count too.
unsigned long library_read_errors();

// Record reads from stream that met the end of the file (result -1) so far while it is open.
// The library's iterator reads to the end of the file only in the last chunk of the last
// reference, so a region walk that sees this count move has read as far as the file goes.
unsigned long end_of_file_reads(const BGZF* stream);

} // namespace alignport
