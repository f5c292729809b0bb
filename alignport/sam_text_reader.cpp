#include "sam_text_reader.h"

#include <sys/types.h>

#include <cstring>
#include <limits>

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

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

inline unsigned char class_of(char c) { return kClasses.of[static_cast<unsigned char>(c)]; }

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
        *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
        return true;
    }
};

} // namespace

SamTextReader::SamTextReader(std::FILE* file) : file_(file), buffer_(kReadBlock) {}

bool SamTextReader::refill() {
    if (atEnd_)
        return false;
    const std::size_t kept = end_ - begin_;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, kept);
        bufferOffset_ += begin_;
        begin_ = 0;
        end_ = kept;
    }
    const std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
    end_ += got;
    if (got == 0) {
        atEnd_ = true;
        failed_ = std::ferror(file_) != 0;
        return false;
    }
    return true;
}

bool SamTextReader::next(const char** text, std::size_t* length) {
    for (;;) {
        const std::size_t avail = end_ - begin_;
        const std::size_t look = avail < kSamPieceChars ? avail : kSamPieceChars;
        const char* start = buffer_.data() + begin_;
        const void* feed = std::memchr(start, '\n', look);
        std::size_t n = 0;
        if (feed != nullptr)
            n = static_cast<std::size_t>(static_cast<const char*>(feed) - start) + 1;
        else if (look == kSamPieceChars)
            n = kSamPieceChars;
        else if (refill())
            continue;
        else {
            start = buffer_.data() + begin_; // the refill may have moved the text
            n = avail;                       // the last piece of a file without a final line feed
        }
        if (n == 0)
            return false;
        *text = start;
        *length = n;
        begin_ += n;
        return true;
    }
}

bool SamTextReader::seek(std::uint64_t offset) {
    if (offset >= bufferOffset_ && offset <= bufferOffset_ + end_) {
        begin_ = static_cast<std::size_t>(offset - bufferOffset_);
        return true;
    }
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) ||
        ::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0)
        return false;
    bufferOffset_ = offset;
    begin_ = end_ = 0;
    atEnd_ = false;
    return true;
}

bool scan_alignment_fields(const char* text, std::size_t length, AlignmentFields* fields) {
    Cursor c{text, text + length};
    const char* skipped = nullptr;
    std::size_t skippedLength = 0;
    std::int32_t flag = 0;
    return c.word(&skipped, &skippedLength) && c.integer(&flag) &&
           c.word(&fields->name, &fields->nameLength) && c.integer(&fields->position);
}

} // namespace alignport
