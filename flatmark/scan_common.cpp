#include "scan_common.h"

#include "hx.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace flatmark {

namespace {

// White space of a formatted string read, and the characters that end a word (white space and
// the zero byte that ends a C string).
struct CharClasses {
    bool space[256] = {};
    bool stop[256] = {};
    constexpr CharClasses() {
        for (unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f'}) {
            space[c] = true;
            stop[c] = true;
        }
        stop[0] = true;
    }
};
constexpr CharClasses kClasses;

inline bool is_space(char c) {
    return kClasses.space[static_cast<unsigned char>(c)];
}
inline bool is_stop(char c) {
    return kClasses.stop[static_cast<unsigned char>(c)];
}

// The first character in [at, limit) that ends a word, or limit. Looks at 16 bytes at a time
// (a line is followed by padding): every such character is 0x20 or below.
inline std::size_t word_end(const char* text, std::size_t at, std::size_t limit) {
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(0x20);
    for (; at < limit; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
        unsigned low = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(bytes, space), space)));
        for (; low != 0; low &= low - 1) {
            const std::size_t i = at + static_cast<unsigned>(__builtin_ctz(low));
            if (i >= limit)
                return limit;
            if (is_stop(text[i]))
                return i;
        }
    }
    return limit;
#else
    while (at < limit && !is_stop(text[at]))
        ++at;
    return at;
#endif
}

} // namespace

void fail_read(ScanCore& core) {
    core.files.fail(Error::CannotReadInput, core.reader.position());
}

void fail_interrupted(ScanCore& core) {
    core.files.fail(Error::Interrupted);
}

void fail_too_many_entries(ScanCore& core, std::uint64_t start) {
    static_assert(kMaxEntries == 4294967295u, "the TooManyEntries message names the limit");
    core.files.fail(Error::TooManyEntries, start);
}

void seek_input(ScanCore& core, std::uint64_t position) {
    if (!core.reader.seek(position))
        fail_read(core);
}

bool extend_line(ScanCore& core, Line& line, std::size_t i) {
    switch (core.reader.cover(line, i)) {
    case CoverStatus::Covered:
        return true;
    case CoverStatus::PastEnd:
        return false;
    case CoverStatus::Failed:
        break;
    }
    fail_read(core);
}

void finish_line(ScanCore& core, Line& line) {
    if (!core.reader.finish(line))
        fail_read(core);
}

template <class Text> bool read_key(const Text& text, std::size_t from, bool comma_is_blank) {
    ScanCore& core = text.core;
    std::size_t begin = from;
    bool comma_passed = !comma_is_blank;
    for (;; ++begin) {
        if (!text.has(begin))
            return false;
        const char c = text.at(begin);
        if (c == ',' && !comma_passed)
            comma_passed = true;
        else if (!is_space(c))
            break;
    }
    if (text.at(begin) == '\0')
        return false;
    // One character more than a key may hold (or up to the line's end): a word that long is
    // too long. Asking for the last of them brings them all into a long line's window.
    text.has(begin + kKeyBuffer - 1);
    const char* word = text.bytes_from(begin);
    std::size_t limit = std::min(text.held_from(begin), kKeyBuffer);
    if (!comma_passed) {
        // The first comma after a key that no comma preceded ends it.
        const void* comma = std::memchr(word, ',', limit);
        if (comma != nullptr)
            limit = static_cast<std::size_t>(static_cast<const char*>(comma) - word);
    }
    const std::size_t length = word_end(word, 0, limit);
    static_assert(kKeyBuffer == 256, "the KeyTooLong message names the limit");
    if (length >= kKeyBuffer)
        core.files.fail(Error::KeyTooLong, core.lines + 1);
    // Whole pieces, within the key buffer and the padding after the bytes held.
    for (std::size_t i = 0; i < length; i += kCopyPiece)
        std::memcpy(core.key + i, word + i, kCopyPiece);
    core.key_length = length;
    return true;
}

template bool read_key(const WholeLine&, std::size_t, bool);
template bool read_key(const LongLine&, std::size_t, bool);

} // namespace flatmark
