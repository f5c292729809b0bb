// Sequential line reads over the text file, with the system's line rule: one read takes at most
// 65,534 characters, up to and including the line feed, so a longer line arrives in pieces and
// each piece is a line of its own. Lines are served from one reused block buffer, with their
// byte positions counted here, so no system call is made per line. The buffer is scanned for
// line feeds 64 bytes at a time into a bit mask; a line then costs one bit search.
#pragma once

#include "newline_mask.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace flatmark {

constexpr std::size_t kMaxLinePiece = 65534;
// Readable bytes (of any value) that always follow a line's bytes, so that a scan of the line
// may look at whole 16-byte blocks.
constexpr std::size_t kLinePadding = 64;

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
        // Inline fast path: the next line feed within one piece, in a block found or scanned
        // here; anything else (a piece limit, a refill, the end) is left to read_slow.
        for (;;) {
            if (feeds_ != 0) {
                const std::size_t feed = feedsBase_ + lowest_bit(feeds_);
                if (feed - cursor_ >= kMaxLinePiece)
                    break;
                feeds_ &= feeds_ - 1;
                take(line, feed + 1 - cursor_);
                return ReadStatus::Line;
            }
            if (filled_ - scanned_ < kMaskBlock || scanned_ - cursor_ >= kMaxLinePiece)
                break;
            scan_block();
        }
        return read_slow(line);
    }
    // Takes, in a run, the lines ahead that are whole in the buffer, fit one piece and do not
    // begin with marker, calling poll() after each as a read would be followed by a poll; stops
    // at the first other line or when poll() returns true (then stopped is set). Returns the
    // count taken. The run keeps its state in registers across the poll calls.
    template <class Poll>
    std::size_t take_lines_not_beginning_with(char marker, Poll poll, bool& stopped) {
        const char* data = buffer_.data();
        const std::size_t filled = filled_;
        std::size_t cursor = cursor_, scanned = scanned_, base = feedsBase_, count = 0;
        std::uint64_t feeds = feeds_;
        stopped = false;
        for (;;) {
            if (feeds == 0) {
                if (filled - scanned < kMaskBlock || scanned - cursor >= kMaxLinePiece)
                    break;
                base = scanned;
                feeds = newline_mask(data + scanned);
                scanned += kMaskBlock;
                continue;
            }
            const std::size_t feed = base + lowest_bit(feeds);
            if (feed - cursor >= kMaxLinePiece || data[cursor] == marker)
                break;
            feeds &= feeds - 1;
            cursor = feed + 1;
            ++count;
            if (poll()) {
                stopped = true;
                break;
            }
        }
        cursor_ = cursor;
        scanned_ = scanned;
        feedsBase_ = base;
        feeds_ = feeds;
        return count;
    }
    // Moves the read position to an absolute byte position; false when the file cannot seek.
    bool seek(std::uint64_t position);
    // Position of the next byte to be read.
    std::uint64_t position() const { return bufferStart_ + cursor_; }

private:
    ReadStatus read_slow(Line& line);
    bool refill();
    // Looks at the next 64 bytes read for line feeds.
    void scan_block() {
        feedsBase_ = scanned_;
        feeds_ = newline_mask(buffer_.data() + scanned_);
        scanned_ += kMaskBlock;
    }
    void take(Line& line, std::size_t size) {
        line.text = buffer_.data() + cursor_;
        line.size = size;
        line.start = position();
        cursor_ += size;
        line.after = position();
    }

    std::FILE* file_;
    std::vector<char> buffer_;
    std::size_t cursor_ = 0;  // next byte to serve
    std::size_t filled_ = 0;  // end of the bytes read
    std::size_t scanned_ = 0; // end of the bytes looked at for line feeds (cursor_ <= scanned_)
    // Line feeds at or after cursor_ in the block last scanned: bit i is buffer_[feedsBase_ + i].
    std::uint64_t feeds_ = 0;
    std::size_t feedsBase_ = 0;
    std::uint64_t bufferStart_ = 0; // file position of buffer_[0]
    bool atEnd_ = false;
};

} // namespace flatmark
