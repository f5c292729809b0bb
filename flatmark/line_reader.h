// Sequential line reads over the text file, with the system's line rule: one read takes at most
// 65,534 characters, up to and including the line feed, so a longer line arrives in pieces and
// each piece is a line of its own. Lines are served from one reused block buffer, with their
// byte positions counted here, so no system call is made per line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace flatmark {

constexpr std::size_t kMaxLinePiece = 65534;

// One line as read: its bytes (line feed included when it has one; not zero-terminated),
// its start in the file and the position right after it. Valid until the next read or seek.
struct Line {
    const char* text = nullptr;
    std::size_t size = 0;
    std::uint64_t start = 0;
    std::uint64_t after = 0;
};

enum class ReadStatus { Line, End, Failed };

class LineReader {
public:
    // Reads from file, which stays the caller's to close. The reader buffers by itself, so the
    // caller may turn the stream's own buffering off.
    explicit LineReader(std::FILE* file);

    // Next line piece; End at the end of the file, Failed on a read error.
    ReadStatus read(Line& line) {
        // Inline fast path: a whole line already in the block.
        const char* begin = buffer_.data() + cursor_;
        const std::size_t available = filled_ - cursor_;
        const void* lineFeed =
            std::memchr(begin, '\n', available < kMaxLinePiece ? available : kMaxLinePiece);
        if (lineFeed == nullptr)
            return read_slow(line);
        take(line, static_cast<std::size_t>(static_cast<const char*>(lineFeed) - begin) + 1);
        return ReadStatus::Line;
    }
    // Moves the read position to an absolute byte position; false when the file cannot seek.
    bool seek(std::uint64_t position);
    // Position of the next byte to be read.
    std::uint64_t position() const { return bufferStart_ + cursor_; }

private:
    ReadStatus read_slow(Line& line);
    bool refill();
    void take(Line& line, std::size_t size) {
        line.text = buffer_.data() + cursor_;
        line.size = size;
        line.start = position();
        cursor_ += size;
        line.after = position();
    }

    std::FILE* file_;
    std::vector<char> buffer_;
    std::size_t cursor_ = 0;
    std::size_t filled_ = 0;
    std::uint64_t bufferStart_ = 0; // file position of buffer_[0]
    bool atEnd_ = false;
};

} // namespace flatmark
