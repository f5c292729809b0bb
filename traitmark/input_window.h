// A read window over the input file: the bytes of one stretch of the file, held in a buffer
// that is refilled as the reader moves forward. A seek into the current window costs nothing,
// so entries given in file order (the usual case) read the file once, sequentially; a jump
// elsewhere starts with a small read that grows while reading stays sequential.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

namespace traitmark {

class InputWindow {
public:
    static constexpr int kEnd = -1;

    // Reads file (owned by the caller, open in binary mode) through a buffer of its own.
    explicit InputWindow(std::FILE* file);

    // Moves to byte offset of the file. An offset beyond the end reads as the end of the file.
    void seek(std::uint64_t offset) {
        if (offset >= base_ && offset - base_ <= filled_) {
            cursor_ = static_cast<std::size_t>(offset - base_);
            return;
        }
        jump_to(offset);
    }

    // Next byte (0 to 255) without consuming it, or kEnd at the end of the file.
    int peek() {
        if (cursor_ == filled_ && !refill())
            return kEnd;
        return static_cast<unsigned char>(buffer_[cursor_]);
    }

    // Consumes the byte that peek() returned.
    void advance() { ++cursor_; }

    // Byte offset of the next byte in the file.
    std::uint64_t position() const { return base_ + cursor_; }

    // True once a read of the file failed (an input/output error, not the end of the file).
    bool failed() const { return failed_; }

private:
    void jump_to(std::uint64_t offset);
    bool refill();

    std::FILE* file_;
    std::unique_ptr<char[]> buffer_;
    std::uint64_t base_ = 0;    // file offset of buffer_[0]
    std::size_t filled_ = 0;    // bytes of the file held in buffer_
    std::size_t cursor_ = 0;    // next byte in buffer_
    std::uint64_t file_at_ = 0; // where the stream stands (after the last read)
    std::size_t next_read_ = 0; // size of the next read; grows while reading is sequential
    bool failed_ = false;
};

} // namespace traitmark
