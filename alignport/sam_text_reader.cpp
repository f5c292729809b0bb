#include "sam_text_reader.h"

#include <sys/types.h>

#include <cstring>
#include <limits>

namespace alignport {

namespace {

constexpr std::size_t kReadBlock = std::size_t(1) << 20;

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A cursor over [at, end) that also stops at a zero byte.
struct Cursor {
    const char* at;
    const char* end;
    bool done() const { return at == end || *at == '\0'; }
    void skip_blanks() {
        while (!done() && is_blank(*at))
            ++at;
    }
    // A word: one or more non-blank characters.
    bool word(const char** start, std::size_t* length) {
        skip_blanks();
        const char* s = at;
        while (!done() && !is_blank(*at))
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
        if (done() || *at < '0' || *at > '9')
            return false;
        std::int64_t v = 0;
        bool saturated = false;
        constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
        while (!done() && *at >= '0' && *at <= '9') {
            const int digit = *at - '0';
            if (!saturated && v > (kMax - digit) / 10)
                saturated = true;
            if (!saturated)
                v = v * 10 + digit;
            ++at;
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
