// The line feeds of a 64-byte block as a bit mask (bit i set when byte i is a line feed), so
// that a buffer is scanned once and each line end then costs a bit search instead of a call.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace flatmark {

constexpr std::size_t kMaskBlock = 64;

// Any processor: eight bytes at a time, each line feed turned into its byte's top bit, the top
// bits then gathered into the low byte by one multiplication.
inline std::uint64_t newline_mask_portable(const char* block) {
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    constexpr std::uint64_t kFeeds = 0x0a0a0a0a0a0a0a0aULL;
    constexpr std::uint64_t kGather = 0x0102040810204080ULL;
    std::uint64_t mask = 0;
    for (unsigned word = 0; word < kMaskBlock / 8; ++word) {
        std::uint64_t bytes;
        std::memcpy(&bytes, block + 8 * word, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        bytes = __builtin_bswap64(bytes); // byte 0 of the block in the low bits
#endif
        const std::uint64_t zero_at_feed = bytes ^ kFeeds;
        // Top bit set exactly where the byte is zero: no carry crosses a byte.
        const std::uint64_t tops = ~(((zero_at_feed & kLow7) + kLow7) | zero_at_feed) & ~kLow7;
        mask |= (((tops >> 7) * kGather) >> 56) << (8 * word);
    }
    return mask;
}

inline std::uint64_t newline_mask(const char* block) {
#if defined(__SSE2__)
    const __m128i feeds = _mm_set1_epi8('\n');
    auto part = [&](int k) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * k));
        return static_cast<std::uint64_t>(
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, feeds))));
    };
    return part(0) | part(1) << 16 | part(2) << 32 | part(3) << 48;
#else
    return newline_mask_portable(block);
#endif
}

// The same for a block of fewer than 64 bytes; the missing bytes are no line feeds.
inline std::uint64_t newline_mask_partial(const char* block, std::size_t size) {
    char padded[kMaskBlock] = {};
    std::memcpy(padded, block, size);
    return newline_mask(padded);
}

inline unsigned lowest_bit(std::uint64_t mask) {
    return static_cast<unsigned>(__builtin_ctzll(mask));
}

} // namespace flatmark
