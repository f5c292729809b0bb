#include "sam_text_reader.h"

#include <sys/types.h>

#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace alignport {

namespace {

constexpr std::size_t kReadBlock = std::size_t(1) << 20;

// Character classes of the scan: blanks of the C locale, the zero byte that ends the text, and
// everything else. A table keeps the per-character test to one load.
enum CharClass : unsigned char { kOrdinary = 0, kBlank = 1, kStop = 2 };

struct ClassTable {
    unsigned char of[256];
    constexpr ClassTable() : of() {
        for (int c = 0; c < 256; ++c)
            of[c] = kOrdinary;
        of[0] = kStop;
        for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'})
            of[c] = kBlank;
    }
};
constexpr ClassTable kClasses;

inline bool is_digit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

inline unsigned char class_of(char c) {
    return kClasses.of[static_cast<unsigned char>(c)];
}

// A cursor over [at, end) that also stops at a zero byte.
struct Cursor {
    const char* at;
    const char* end;
    bool done() const { return at == end || *at == '\0'; }
    void skip_blanks() {
        while (at != end && class_of(*at) == kBlank)
            ++at;
    }
    // A word: one or more non-blank characters.
    bool word(const char** start, std::size_t* length) {
        skip_blanks();
        const char* s = at;
        while (at != end && class_of(*at) == kOrdinary)
            ++at;
        *start = s;
        *length = static_cast<std::size_t>(at - s);
        return *length > 0;
    }
    // A decimal integer with an optional sign. Out-of-range values saturate to the 64-bit range
    // and are then cut to 32 bits, as the C library's conversion stores them.
    bool integer(std::int32_t* value) {
        skip_blanks();
        bool negative = false;
        if (!done() && (*at == '+' || *at == '-')) {
            negative = *at == '-';
            ++at;
        }
        if (at == end || !is_digit(*at))
            return false;
        std::int64_t v = 0;
        bool saturated = false;
        constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
        constexpr std::int64_t kSafe = kMax / 10 - 1; // below it, one more digit cannot overflow
        for (; at != end && is_digit(*at); ++at) {
            const int digit = *at - '0';
            if (v < kSafe)
                v = v * 10 + digit;
            else if (saturated || v > (kMax - digit) / 10)
                saturated = true;
            else
                v = v * 10 + digit;
        }
        if (saturated)
            v = negative ? std::numeric_limits<std::int64_t>::min() : kMax;
        else if (negative)
            v = -v;
        *value =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
        return true;
    }
};

constexpr std::size_t kShapeBytes = 64;

// Bit i set when byte i of the 32 at text is 0x20 or below: every blank and the zero byte are,
// so a field of the usual shape ends at one of these bits.
inline std::uint64_t low_bytes(const char* text) {
#if defined(__SSE2__)
    const __m128i space = _mm_set1_epi8(0x20);
    auto part = [&](int k) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16 * k));
        const __m128i at_most = _mm_cmpeq_epi8(_mm_max_epu8(bytes, space), space);
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(at_most)));
    };
    return part(0) | part(1) << 16;
#else
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < 32; ++i)
        mask |= static_cast<std::uint64_t>(static_cast<unsigned char>(text[i]) <= 0x20) << i;
    return mask;
#endif
}

// The same for the 64 bytes at text, the second half looked at only when the first holds
// fewer than the four field ends wanted.
inline std::uint64_t field_ends(const char* text) {
    std::uint64_t ends = low_bytes(text);
    std::uint64_t fourth = ends;
    for (int k = 0; k < 3; ++k)
        fourth &= fourth - 1;
    if (fourth == 0)
        ends |= low_bytes(text + 32) << 32;
    return ends;
}

// The value of the n digits at text (1 <= n <= 8), read as one 8-byte word without a loop (the
// 8 bytes must be readable); false when one of the n is not a digit.
inline bool few_digits(const char* text, std::size_t n, std::uint64_t* value) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    std::uint64_t word;
    std::memcpy(&word, text, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word); // the first character in the low byte
#endif
    const std::uint64_t keep = n == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1;
    // A digit has 3 as its high half and keeps it when 6 is added; no carry reaches a kept byte.
    if (((word & (0xf0 * kOnes)) & keep) != ((0x30 * kOnes) & keep) ||
        (((word + 0x06 * kOnes) & (0xf0 * kOnes)) & keep) != ((0x30 * kOnes) & keep))
        return false;
    // Digit values shifted up so the missing leading ones read as zeros, then combined in pairs.
    std::uint64_t digits = ((word & keep) - ((0x30 * kOnes) & keep)) << (8 * (8 - n));
    digits = (digits * 2561) >> 8 & 0x00ff00ff00ff00ffULL;
    digits = (digits * 6553601) >> 16 & 0x0000ffff0000ffffULL;
    *value = (digits * 42949672960001ULL) >> 32;
    return true;
}

// Up to 16 digits at text, whose last byte is at most text + 64 in a line of at least 72.
inline bool number(const char* text, std::size_t n, std::uint64_t* value) {
    if (n <= 8)
        return few_digits(text, n, value);
    std::uint64_t high = 0, low = 0;
    if (n > 16 || !few_digits(text, n - 8, &high) || !few_digits(text + n - 8, 8, &low))
        return false;
    *value = high * 100000000 + low;
    return true;
}

// The usual shape of an alignment line, scanned from the field ends found at once. False when
// the line has any other shape; the full scan then decides.
bool scan_usual_shape(const char* text, std::size_t length, AlignmentFields* fields) {
    if (length < kShapeBytes + 8) // every 8-byte read of a number stays within the line
        return false;
    std::uint64_t ends = field_ends(text);
    std::size_t bounds[4]; // the byte after QNAME, FLAG, RNAME and POS
    std::size_t start = 0;
    for (int k = 0; k < 4; ++k) {
        if (ends == 0)
            return false; // a field reaching past the 64 bytes
        const std::size_t end = static_cast<std::size_t>(__builtin_ctzll(ends));
        // An empty field is a run of blanks; a field that is not the last must end at one tab.
        if (end == start || (k < 3 && text[end] != '\t'))
            return false;
        bounds[k] = end;
        ends &= ends - 1;
        start = end + 1;
    }
    // FLAG's value is not kept; POS, at most 16 digits, cannot overflow 64 bits.
    std::uint64_t flag = 0, position = 0;
    if (!number(text + bounds[0] + 1, bounds[1] - bounds[0] - 1, &flag) ||
        !number(text + bounds[2] + 1, bounds[3] - bounds[2] - 1, &position))
        return false;
    fields->name = text + bounds[1] + 1;
    fields->name_length = bounds[2] - bounds[1] - 1;
    fields->position = static_cast<std::int32_t>(static_cast<std::uint32_t>(position));
    return true;
}

} // namespace

SamTextReader::SamTextReader(std::FILE* file) : file_(file), buffer_(kReadBlock) {}

bool SamTextReader::refill() {
    if (at_end_)
        return false;
    const std::size_t kept = end_ - begin_;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, kept);
        buffer_offset_ += begin_;
        begin_ = 0;
        end_ = kept;
    }
    // Room for a held line and a whole read after it.
    if (buffer_.size() - end_ < kReadBlock)
        buffer_.resize(end_ + kReadBlock);
    const std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
    end_ += got;
    if (got == 0) {
        at_end_ = true;
        failed_ = std::ferror(file_) != 0;
        return false;
    }
    return true;
}

void SamTextReader::skip_rest_of_line() {
    for (;;) {
        const char* start = buffer_.data() + begin_;
        const void* feed = std::memchr(start, '\n', end_ - begin_);
        if (feed != nullptr) {
            begin_ += static_cast<std::size_t>(static_cast<const char*>(feed) - start) + 1;
            return;
        }
        begin_ = end_; // nothing of it is kept
        if (!refill())
            return;
    }
}

bool SamTextReader::next_slow(const char** text, std::size_t* length) {
    for (;;) {
        const std::size_t avail = end_ - begin_;
        const char* start = buffer_.data() + begin_;
        const void* feed = std::memchr(start, '\n', avail);
        if (feed != nullptr) {
            const std::size_t n =
                static_cast<std::size_t>(static_cast<const char*>(feed) - start) + 1;
            *text = start;
            *length = n;
            begin_ += n;
            return true;
        }
        if (avail >= kHeldLineChars) {
            // A longer line: its start is kept aside, the rest passed over.
            held_.assign(start, start + kHeldLineChars);
            begin_ += kHeldLineChars;
            skip_rest_of_line();
            *text = held_.data();
            *length = held_.size();
            return true;
        }
        if (refill())
            continue;
        // The last line of a file without a final line feed (the refill may have moved it).
        if (end_ == begin_)
            return false;
        *text = buffer_.data() + begin_;
        *length = end_ - begin_;
        begin_ = end_;
        return true;
    }
}

bool SamTextReader::seek(std::uint64_t offset) {
    if (offset >= buffer_offset_ && offset <= buffer_offset_ + end_) {
        begin_ = static_cast<std::size_t>(offset - buffer_offset_);
        return true;
    }
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) ||
        ::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0)
        return false;
    buffer_offset_ = offset;
    begin_ = end_ = 0;
    at_end_ = false;
    return true;
}

bool scan_alignment_fields(const char* text, std::size_t length, AlignmentFields* fields) {
    return scan_usual_shape(text, length, fields) ||
           scan_alignment_fields_in_full(text, length, fields);
}

bool scan_alignment_fields_in_full(const char* text, std::size_t length, AlignmentFields* fields) {
    Cursor c{text, text + length};
    const char* skipped = nullptr;
    std::size_t skipped_length = 0;
    std::int32_t flag = 0;
    return c.word(&skipped, &skipped_length) && c.integer(&flag) &&
           c.word(&fields->name, &fields->name_length) && c.integer(&fields->position);
}

} // namespace alignport
