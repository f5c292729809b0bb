// Appends feature values to the index file: each value least significant byte first in the
// feature's width, gathered in a buffer of its own and handed to the stream in large writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace traitmark {

class FeatureWriter {
public:
    // width is 1, 2 or 4 bytes; file (owned by the caller) is the index file open for appending.
    FeatureWriter(std::FILE* file, unsigned width);

    // Appends the low width bytes of value. False when a write into the stream failed.
    bool put(std::uint32_t value) {
        if (filled_ + width_ > kCapacity && !drain())
            return false;
        for (unsigned k = 0; k < width_; ++k)
            buffer_[filled_ + k] = static_cast<unsigned char>(value >> (8 * k));
        filled_ += width_;
        return true;
    }

    // Hands every buffered value to the stream (not yet to the disk: closing the stream does).
    // False when the write failed.
    bool drain();

private:
    static constexpr std::size_t kCapacity = 64 * 1024;

    std::FILE* file_;
    unsigned width_;
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t filled_ = 0;
};

} // namespace traitmark
