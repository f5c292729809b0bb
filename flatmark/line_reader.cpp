#include "line_reader.h"

#include <sys/types.h>

#include <cstring>

namespace flatmark {

namespace {
// Large enough that a whole piece always fits after the unread tail is moved to the front.
constexpr std::size_t kBlockSize = std::size_t{1} << 18;
static_assert(kBlockSize > 2 * kMaxLinePiece + kMaskBlock,
              "block must hold a piece after compaction");
} // namespace

LineReader::LineReader(std::FILE* file) : file_(file), buffer_(kBlockSize + kLinePadding) {}

ReadStatus LineReader::read_slow(Line& line) {
    for (;;) {
        if (feeds_ != 0) {
            const std::size_t feed = feedsBase_ + lowest_bit(feeds_);
            if (feed - cursor_ < kMaxLinePiece) {
                feeds_ &= feeds_ - 1;
                take(line, feed + 1 - cursor_);
            } else {
                take(line, kMaxLinePiece); // the feed stays pending for a later piece
            }
            return ReadStatus::Line;
        }
        // No line feed in [cursor_, scanned_).
        if (scanned_ - cursor_ >= kMaxLinePiece) {
            take(line, kMaxLinePiece);
            return ReadStatus::Line;
        }
        if (filled_ - scanned_ >= kMaskBlock) {
            scan_block();
            continue;
        }
        if (!atEnd_) {
            if (!refill())
                return ReadStatus::Failed;
            continue;
        }
        if (scanned_ < filled_) {
            feedsBase_ = scanned_;
            feeds_ = newline_mask_partial(buffer_.data() + scanned_, filled_ - scanned_);
            scanned_ = filled_;
            continue;
        }
        if (cursor_ == filled_)
            return ReadStatus::End;
        take(line, filled_ - cursor_); // a last line without line feed
        return ReadStatus::Line;
    }
}

bool LineReader::refill() {
    // Called with no line feed pending, so only scanned_ needs moving with the tail.
    const std::size_t tail = filled_ - cursor_;
    std::memmove(buffer_.data(), buffer_.data() + cursor_, tail);
    bufferStart_ += cursor_;
    scanned_ -= cursor_;
    cursor_ = 0;
    filled_ = tail;
    const std::size_t wanted = kBlockSize - filled_;
    const std::size_t got = std::fread(buffer_.data() + filled_, 1, wanted, file_);
    filled_ += got;
    if (got < wanted) {
        if (std::ferror(file_))
            return false;
        atEnd_ = true;
    }
    return true;
}

bool LineReader::seek(std::uint64_t position) {
    if (position >= bufferStart_ && position - bufferStart_ <= filled_) {
        cursor_ = static_cast<std::size_t>(position - bufferStart_);
        scanned_ = cursor_;
        feeds_ = 0;
        return true;
    }
    if (fseeko(file_, static_cast<off_t>(position), SEEK_SET) != 0)
        return false;
    bufferStart_ = position;
    cursor_ = 0;
    filled_ = 0;
    scanned_ = 0;
    feeds_ = 0;
    atEnd_ = false;
    return true;
}

} // namespace flatmark
