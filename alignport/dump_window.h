// Fetch callbacks of the dump services: printing every placed alignment of a region,
// collecting positions, and printing a window of alignments counted from a first position.
#pragma once

#include "sam_line.h"

#include <samtools/sam.h>

#include <cstdint>
#include <vector>

namespace alignport {

// What printalignment needs: the file for its header, and the reused line.
struct DumpPrinter {
    const samfile_t* file;
    SamLine line;
    bool damaged; // a record named a reference the header lacks; nothing printed for it
};

// Prints the SAM line of a record that has a reference (format "%s\n"); returns 0.
int printalignment(const bam1_t* record, void* printer);

// Appends the record's 0-based position to a std::vector<std::uint32_t>; returns 0.
int collectstart(const bam1_t* record, void* positions);

// The windowed printing of dumpinfobyindex and dumpinfoinrefbyindex.
struct DumpWindow {
    std::int32_t first_position; // alignments beginning before it are passed over
    std::int32_t skip;           // alignments at or after it still to pass over
    std::int32_t print;          // lines still to print
    DumpPrinter printer;
};

// Passes over alignments before the first position, then skip more, then prints up to print
// lines; returns 0.
int printinwindow(const bam1_t* record, void* window);

} // namespace alignport
