// The five scanners, one per indexer type (bound to their names in contract.cpp), each in its
// own file and instantiated for both offset widths. A scanner reads the input from its first line
// to its end, streams the keys into the index file, counts entries and lines in core and fills the
// offset table.
#pragma once

#include "contract.h"
#include "offset_table.h"
#include "scan_common.h"

#include <cstdint>

namespace flatmark {

template <class Offset> void scan_mrtab(ScanCore& core, OffsetTable<Offset>& table);
template <class Offset> void scan_table(ScanCore& core, OffsetTable<Offset>& table);
template <class Offset> void scan_fasta(ScanCore& core, OffsetTable<Offset>& table);
template <class Offset> void scan_fastq(ScanCore& core, OffsetTable<Offset>& table);
template <class Offset> void scan_flat(ScanCore& core, OffsetTable<Offset>& table);

#define FLATMARK_INSTANTIATE_SCANNER(name)                                                         \
    template void name<std::uint32_t>(ScanCore&, OffsetTable<std::uint32_t>&);                     \
    template void name<std::uint64_t>(ScanCore&, OffsetTable<std::uint64_t>&);

// The tail both table types share: starts get the last entry's start and end, ends its end;
// with no entry the table is the single value 0.
template <class Offset>
void finish_table_entries(ScanCore& core, OffsetTable<Offset>& table, std::uint64_t start,
                          std::uint64_t end) {
    if (core.entries == 0) {
        table.add_start(0);
        return;
    }
    table.add_start(start);
    table.add_start(end);
    table.add_end(end);
}

} // namespace flatmark
