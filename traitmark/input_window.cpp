#include "input_window.h"

#include <sys/types.h>

#include <cstdint>
#include <limits>

namespace traitmark {
namespace {

constexpr std::size_t kSmallRead = 4 * 1024; // a few SAM lines: random access stays cheap
constexpr std::size_t kLargestRead = 512 * 1024;

} // namespace

InputWindow::InputWindow(std::FILE* file)
    : file_(file), buffer_(new char[kLargestRead]), next_read_(kSmallRead) {
    // The window is the only buffer that the reads need.
    std::setvbuf(file_, nullptr, _IONBF, 0);
}

void InputWindow::jump_to(std::uint64_t offset) {
    // A short step forward past the window is still sequential reading: keep the read size.
    const std::uint64_t end = base_ + filled_;
    const bool short_step_forward = offset > end && offset - end < next_read_;
    if (!short_step_forward)
        next_read_ = kSmallRead;
    base_ = offset;
    filled_ = 0;
    cursor_ = 0;
}

bool InputWindow::refill() {
    base_ += filled_;
    filled_ = 0;
    cursor_ = 0;
    if (failed_)
        return false;
    if (base_ > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return false; // no such byte: reads as the end of the file
    if (file_at_ != base_) {
        if (fseeko(file_, static_cast<off_t>(base_), SEEK_SET) != 0)
            return false;
        file_at_ = base_;
    }
    const std::size_t got = std::fread(buffer_.get(), 1, next_read_, file_);
    file_at_ += got;
    if (got == 0) {
        if (std::ferror(file_))
            failed_ = true;
        std::clearerr(file_);
        return false;
    }
    filled_ = got;
    if (next_read_ < kLargestRead)
        next_read_ *= 2;
    return true;
}

} // namespace traitmark
