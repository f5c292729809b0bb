#include "scan_common.h"

#include "errors.h"
#include "hx.h"

#include <cstdio>
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
std::size_t word_end(const char* text, std::size_t at, std::size_t limit) {
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
    char message[96];
    std::snprintf(message, sizeof message, "Cannot read input file at byte %llu.",
                  static_cast<unsigned long long>(core.reader.position()));
    core.files.fail(kIdCannotReadInFile, message);
}

void fail_interrupted(ScanCore& core) {
    core.files.fail(kIdInterrupted, kMsgInterrupted);
}

void fail_too_many_entries(ScanCore& core, std::uint64_t start) {
    char message[96];
    static_assert(kMaxEntries == 4294967295u, "the message names the limit");
    std::snprintf(message, sizeof message, "More than 4294967295 entries at byte %llu.",
                  static_cast<unsigned long long>(start));
    core.files.fail(kIdTooManyEntries, message);
}

void seek_input(ScanCore& core, std::uint64_t position) {
    if (!core.reader.seek(position))
        fail_read(core);
}

bool read_key(ScanCore& core, const Line& line, std::size_t from, std::size_t blankAt) {
    const char* text = line.text;
    std::size_t begin = from;
    while (begin < line.size && (begin == blankAt || is_space(text[begin])))
        ++begin;
    if (begin >= line.size || text[begin] == '\0')
        return false;
    std::size_t limit = blankAt != kNoMatch && blankAt > begin ? blankAt : line.size;
    if (limit - begin > kKeyBuffer)
        limit = begin + kKeyBuffer; // one character more than a key may hold: too long
    const std::size_t length = word_end(text, begin, limit) - begin;
    if (length >= kKeyBuffer) {
        char message[96];
        std::snprintf(message, sizeof message, "Key longer than 255 characters at line %llu.",
                      static_cast<unsigned long long>(core.lines) + 1);
        core.files.fail(kIdKeyTooLong, message);
    }
    // Whole pieces, within the key buffer and the line's padding.
    for (std::size_t i = 0; i < length; i += kCopyPiece)
        std::memcpy(core.key + i, text + begin + i, kCopyPiece);
    core.keyLength = length;
    return true;
}

} // namespace flatmark
