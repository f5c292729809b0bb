#include "line_reader.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>

namespace flatmark {

namespace {
// Large enough that a whole piece always fits after the unread tail is moved to the front.
constexpr std::size_t kBlockSize = std::size_t{1} << 18;
static_assert(kBlockSize > 2 * kMaxLinePiece, "block must hold a piece after compaction");
} // namespace

LineReader::LineReader(std::FILE* file) : file_(file), buffer_(kBlockSize) {}

ReadStatus LineReader::read_slow(Line& line) {
    for (;;) {
        const std::size_t available = filled_ - cursor_;
        const char* begin = buffer_.data() + cursor_;
        const void* lineFeed = std::memchr(begin, '\n', std::min(available, kMaxLinePiece));
        std::size_t size;
        if (lineFeed != nullptr) {
            size = static_cast<std::size_t>(static_cast<const char*>(lineFeed) - begin) + 1;
        } else if (available >= kMaxLinePiece) {
            size = kMaxLinePiece;
        } else if (atEnd_) {
            if (available == 0)
                return ReadStatus::End;
            size = available;
        } else {
            if (!refill())
                return ReadStatus::Failed;
            continue;
        }
        take(line, size);
        return ReadStatus::Line;
    }
}

bool LineReader::refill() {
    const std::size_t tail = filled_ - cursor_;
    std::memmove(buffer_.data(), buffer_.data() + cursor_, tail);
    bufferStart_ += cursor_;
    cursor_ = 0;
    filled_ = tail;
    const std::size_t wanted = buffer_.size() - filled_;
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
        return true;
    }
    if (fseeko(file_, static_cast<off_t>(position), SEEK_SET) != 0)
        return false;
    bufferStart_ = position;
    cursor_ = 0;
    filled_ = 0;
    atEnd_ = false;
    return true;
}

} // namespace flatmark
