// Sequence lengths of FASTA and FASTQ entries, read line by line from the entry's offset. A
// line is one line whatever its length (it is counted as it streams by, never held); carriage
// returns, line feeds, blanks and tabs are not sequence characters.
#pragma once

#include "input_window.h"

#include <cstdint>

namespace traitmark {

// Sequence characters of the line after the header line.
std::uint64_t fastq_length(InputWindow& in);

// Sequence characters of the lines after the header line, counting every line that begins
// before next_entry (the start of the following entry, or any offset at or beyond the end of
// the file for the last entry), modulo 2^32. Positions are compared after masking them with
// position_mask: the 32-bit offset instance compares the low 32 bits of a position.
std::uint32_t fasta_length(InputWindow& in, std::uint64_t next_entry, std::uint64_t position_mask);

} // namespace traitmark
