#include "line_reader.h"

#include <sys/types.h>

#include <cstring>

namespace flatmark {

namespace {
// Lines up to this length are served whole from the buffer; a longer line is a long line.
constexpr std::size_t kBlockSize = std::size_t{1} << 18;
static_assert(kBlockSize > 2 * kLineLookback + kMaskBlock,
              "a long line's window moves on by more than it keeps");
} // namespace

LineReader::LineReader(std::FILE* file) : file_(file), buffer_(kBlockSize + kLinePadding) {}

ReadStatus LineReader::read_slow(Line& line) {
    if (long_line_ && !skip_long_line())
        return ReadStatus::Failed;
    for (;;) {
        if (feeds_ != 0) {
            const std::size_t feed = feeds_base_ + lowest_bit(feeds_);
            feeds_ &= feeds_ - 1;
            take(line, feed + 1 - cursor_);
            return ReadStatus::Line;
        }
        // No line feed in [cursor_, scanned_).
        if (filled_ - scanned_ >= kMaskBlock) {
            scan_block();
            continue;
        }
        if (scanned_ < filled_ && (at_end_ || (cursor_ == 0 && filled_ == kBlockSize))) {
            feeds_base_ = scanned_;
            feeds_ = newline_mask_partial(buffer_.data() + scanned_, filled_ - scanned_);
            scanned_ = filled_;
            continue;
        }
        if (!at_end_) {
            if (cursor_ == 0 && filled_ == kBlockSize) {
                serve_long_line(line);
                return ReadStatus::Line;
            }
            if (!refill())
                return ReadStatus::Failed;
            continue;
        }
        if (cursor_ == filled_)
            return ReadStatus::End;
        take(line, filled_ - cursor_); // a last line without line feed
        return ReadStatus::Line;
    }
}

// The buffer is full from cursor_ 0 and holds no line feed.
void LineReader::serve_long_line(Line& line) {
    line.text = buffer_.data();
    line.size = filled_;
    line.base = 0;
    line.start = position();
    line.after = 0;
    line.open = true;
    long_line_ = true;
    long_line_end_ = kEndUnknown;
}

bool LineReader::find_long_line_end(Line& line, std::size_t from) {
    const void* feed = std::memchr(buffer_.data() + from, '\n', filled_ - from);
    if (feed == nullptr && !at_end_)
        return false;
    long_line_end_ =
        feed == nullptr
            ? filled_
            : static_cast<std::size_t>(static_cast<const char*>(feed) - buffer_.data()) + 1;
    line.after = buffer_start_ + long_line_end_;
    line.open = false;
    return true;
}

CoverStatus LineReader::cover(Line& line, std::size_t i) {
    while (line.open && i - line.base >= line.size) {
        // Keep kLineLookback bytes before i, or all the window holds when i is nearer.
        const std::size_t keep_from = i > kLineLookback ? i - kLineLookback : 0;
        if (keep_from > line.base) {
            const std::size_t drop = std::min(keep_from - line.base, line.size);
            cursor_ += drop;
            line.base += drop;
        }
        const std::size_t search_from = filled_ - cursor_; // where the new bytes will begin
        if (!refill())
            return CoverStatus::Failed;
        find_long_line_end(line, search_from);
        line.text = buffer_.data() + cursor_;
        line.size = (line.open ? filled_ : long_line_end_) - cursor_;
        feeds_ = 0;
        scanned_ = filled_;
    }
    return i - line.base < line.size ? CoverStatus::Covered : CoverStatus::PastEnd;
}

bool LineReader::finish(Line& line) {
    if (line.open) {
        do {
            cursor_ = filled_;
            if (!refill())
                return false;
        } while (!find_long_line_end(line, 0));
        feeds_ = 0;
        scanned_ = filled_;
    }
    line.text = nullptr;
    line.size = 0;
    return true;
}

bool LineReader::skip_long_line() {
    Line rest;
    rest.open = long_line_end_ == kEndUnknown;
    if (rest.open && !finish(rest))
        return false;
    cursor_ = long_line_end_;
    scanned_ = cursor_;
    feeds_ = 0;
    long_line_ = false;
    long_line_end_ = kEndUnknown;
    return true;
}

bool LineReader::refill() {
    // Called with no line feed pending, so only scanned_ needs moving with the tail.
    const std::size_t tail = filled_ - cursor_;
    std::memmove(buffer_.data(), buffer_.data() + cursor_, tail);
    buffer_start_ += cursor_;
    scanned_ -= cursor_;
    if (long_line_end_ != kEndUnknown)
        long_line_end_ -= cursor_;
    cursor_ = 0;
    filled_ = tail;
    const std::size_t wanted = kBlockSize - filled_;
    const std::size_t got = at_end_ ? 0 : std::fread(buffer_.data() + filled_, 1, wanted, file_);
    filled_ += got;
    if (got < wanted) {
        if (std::ferror(file_))
            return false;
        at_end_ = true;
    }
    return true;
}

bool LineReader::seek(std::uint64_t position) {
    long_line_ = false;
    long_line_end_ = kEndUnknown;
    if (position >= buffer_start_ && position - buffer_start_ <= filled_) {
        cursor_ = static_cast<std::size_t>(position - buffer_start_);
        scanned_ = cursor_;
        feeds_ = 0;
        return true;
    }
    if (fseeko(file_, static_cast<off_t>(position), SEEK_SET) != 0)
        return false;
    buffer_start_ = position;
    cursor_ = 0;
    filled_ = 0;
    scanned_ = 0;
    feeds_ = 0;
    at_end_ = false;
    return true;
}

} // namespace flatmark
