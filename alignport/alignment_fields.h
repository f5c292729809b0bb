// Values derived from one alignment record that more than one service returns. The record's
// variable data is a byte buffer, so CIGAR words are read with memcpy (they need not be aligned).
#pragma once

#include "cigar_ops.h"

#include <samtools/bam.h>

#include <cstdint>
#include <cstring>

namespace alignport {

// The letter of each 4-bit base code of a packed sequence, as SAM text writes it.
constexpr char kBaseLetters[] = "=ACMGRSVTWYHKDBN";

// CIGAR operation k of the record (operation code in the low 4 bits, length above).
inline std::uint32_t cigar_word(const bam1_t* b, std::uint32_t k) {
    std::uint32_t word;
    std::memcpy(&word, b->data + b->core.l_qname + 4 * k, sizeof word);
    return word;
}

// Reference bases the alignment covers: the lengths of its M, D, N, = and X operations (0 without
// CIGAR operations).
inline std::int64_t reference_span(const bam1_t* b) {
    hxb::CigarSpans spans;
    for (std::uint32_t k = 0; k < b->core.n_cigar; ++k) {
        const std::uint32_t word = cigar_word(b, k);
        hxb::add_cigar_op(spans, word & BAM_CIGAR_MASK, word >> BAM_CIGAR_SHIFT);
    }
    return static_cast<std::int64_t>(spans.reference);
}

// 1-based position of the last reference base covered: pos + span, or pos + 1 when the record
// has no CIGAR operations (so a CIGAR covering no base gives start - 1). Modular uint32 arithmetic.
inline std::uint32_t last_reference_base(const bam1_t* b) {
    const auto pos = static_cast<std::uint32_t>(b->core.pos);
    return b->core.n_cigar == 0 ? pos + 1u : pos + static_cast<std::uint32_t>(reference_span(b));
}

} // namespace alignport
