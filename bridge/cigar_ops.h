// CIGAR operations as SAM writes them and BAM numbers them, for every plug-in that walks a CIGAR:
// which operations consume query bases and which consume reference bases. = and X are matches,
// as M is.
#pragma once

#include <cstdint>

namespace hxb {

// Operation letters by BAM operation code (0 to 8).
constexpr char kCigarOpLetters[] = "MIDNSHP=X";
constexpr unsigned kCigarOpCount = 9;

// Bits by operation code: M, I, S, =, X consume query; M, D, N, =, X consume reference.
constexpr std::uint32_t kCigarQueryOps = 1u << 0 | 1u << 1 | 1u << 4 | 1u << 7 | 1u << 8;
constexpr std::uint32_t kCigarReferenceOps = 1u << 0 | 1u << 2 | 1u << 3 | 1u << 7 | 1u << 8;

inline bool cigar_op_consumes_query(unsigned op) {
    return op < kCigarOpCount && (kCigarQueryOps >> op & 1u) != 0;
}

inline bool cigar_op_consumes_reference(unsigned op) {
    return op < kCigarOpCount && (kCigarReferenceOps >> op & 1u) != 0;
}

// The operation code of a SAM operation letter (upper case only), or -1.
inline int cigar_op_code(char letter) {
    for (unsigned op = 0; op < kCigarOpCount; ++op)
        if (kCigarOpLetters[op] == letter)
            return static_cast<int>(op);
    return -1;
}

// Query and reference lengths of a CIGAR, summed one operation at a time: the one rule for every
// span, end and query length the plug-ins compute, from BAM words or from SAM text.
struct CigarSpans {
    std::uint64_t query = 0;     // bases of M, I, S, = and X
    std::uint64_t reference = 0; // bases of M, D, N, = and X
};

inline void add_cigar_op(CigarSpans& spans, unsigned op, std::uint64_t length) {
    if (cigar_op_consumes_query(op))
        spans.query += length;
    if (cigar_op_consumes_reference(op))
        spans.reference += length;
}

} // namespace hxb
