// Sequential line reads over the text file. A line is everything up to and including its line
// feed, whatever its length. Lines are served from one reused block buffer, with their byte
// positions counted here, so no system call is made per line. The buffer is scanned for line
// feeds 64 bytes at a time into a bit mask; a line then costs one bit search.
//
// A line that does not fit the buffer is a long line: it is served as a window over its bytes
// that the line rules move forward on demand (cover), never holding the line whole, and its end
// is found when the next line is read or its end is asked for (finish). Memory stays one block
// whatever the line length.
#pragma once

#include "newline_mask.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace flatmark {

// Bytes of a long line kept behind the furthest byte asked for when its window moves on: more
// than any prefix, token or key the line rules compare, so a rule may look back over what it
// compares. Only the line's leading spaces may lie further back (see Line).
constexpr std::size_t kLineLookback = std::size_t{1} << 16;
// Readable bytes (of any value) that always follow a line's bytes, so that a scan of the line
// may look at whole 16-byte blocks.
constexpr std::size_t kLinePadding = 64;

// One line as read: bytes [base, base + size) of it in text (line feed included when it has
// one; not zero-terminated), its start in the file and, unless open, the position right after
// it. A line that fits the buffer is whole: base 0, size its length, never open. A long line is
// open until its end has been read; its window moves on only through LineReader::cover, and
// every byte before base is then one of the line's leading spaces or lies more than
// kLineLookback behind a byte already asked for. Valid until the next read or seek.
struct Line {
    const char* text = nullptr;
    std::size_t size = 0;
    std::size_t base = 0;
    std::uint64_t start = 0;
    std::uint64_t after = 0;
    bool open = false;
};

enum class ReadStatus { Line, End, Failed };
enum class CoverStatus { Covered, PastEnd, Failed };

class LineReader {
public:
    // Reads from file, which stays the caller's to close. The reader buffers by itself, so the
    // caller may turn the stream's own buffering off.
    explicit LineReader(std::FILE* file);

    // Next line; End at the end of the file, Failed on a read error.
    ReadStatus read(Line& line) {
        // Inline fast path: the next line feed in a block found or scanned here; anything else
        // (a refill, a long line, the end) is left to read_slow.
        for (;;) {
            if (feeds_ != 0) {
                const std::size_t feed = feeds_base_ + lowest_bit(feeds_);
                feeds_ &= feeds_ - 1;
                take(line, feed + 1 - cursor_);
                return ReadStatus::Line;
            }
            if (filled_ - scanned_ < kMaskBlock)
                break;
            scan_block();
        }
        return read_slow(line);
    }
    // Moves the window of line, the long line last read, on so that it holds the byte at
    // offset i (at least i - kLineLookback stays): Covered, or PastEnd when the line ends
    // before i. Whole lines are never passed here.
    CoverStatus cover(Line& line, std::size_t i);
    // Reads on to the end of line, the long line last read, and sets its after; the window is
    // gone then. False on a read error.
    bool finish(Line& line);
    // Takes, in a run, the lines ahead that are whole in the buffer and do not begin with marker,
    // calling poll() after each as a read would be followed by a poll; stops at the first other
    // line or when poll() returns true (then stopped is set). Returns the count taken. The run
    // keeps its state in registers across the poll calls.
    template <class Poll>
    std::size_t take_lines_not_beginning_with(char marker, Poll poll, bool& stopped) {
        const char* data = buffer_.data();
        const std::size_t filled = filled_;
        std::size_t cursor = cursor_, scanned = scanned_, base = feeds_base_, count = 0;
        std::uint64_t feeds = feeds_;
        stopped = false;
        for (;;) {
            if (feeds == 0) {
                if (filled - scanned < kMaskBlock)
                    break;
                base = scanned;
                feeds = newline_mask(data + scanned);
                scanned += kMaskBlock;
                continue;
            }
            const std::size_t feed = base + lowest_bit(feeds);
            if (data[cursor] == marker)
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
        feeds_base_ = base;
        feeds_ = feeds;
        return count;
    }
    // Moves the read position to an absolute byte position; false when the file cannot seek.
    bool seek(std::uint64_t position);
    // Position of the next byte to be read.
    std::uint64_t position() const { return buffer_start_ + cursor_; }

private:
    ReadStatus read_slow(Line& line);
    void serve_long_line(Line& line);
    bool skip_long_line();
    // Reads more after the bytes held, keeping those from cursor_ on; false on a read error.
    bool refill();
    // Looks for the long line's feed in the bytes read from index from on; true when found.
    bool find_long_line_end(Line& line, std::size_t from);
    // Looks at the next 64 bytes read for line feeds.
    void scan_block() {
        feeds_base_ = scanned_;
        feeds_ = newline_mask(buffer_.data() + scanned_);
        scanned_ += kMaskBlock;
    }
    void take(Line& line, std::size_t size) {
        line.text = buffer_.data() + cursor_;
        line.size = size;
        line.base = 0;
        line.open = false;
        line.start = position();
        cursor_ += size;
        line.after = position();
    }

    std::FILE* file_;
    std::vector<char> buffer_;
    std::size_t cursor_ = 0;  // next byte to serve
    std::size_t filled_ = 0;  // end of the bytes read
    std::size_t scanned_ = 0; // end of the bytes looked at for line feeds (cursor_ <= scanned_)
    // Line feeds at or after cursor_ in the block last scanned: bit i is buffer_[feeds_base_ + i].
    std::uint64_t feeds_ = 0;
    std::size_t feeds_base_ = 0;
    std::uint64_t buffer_start_ = 0; // file position of buffer_[0]
    bool at_end_ = false;
    // A long line was served and the next read must first pass over the rest of it: its end,
    // once found, is long_line_end_ (an index into buffer_), else kEndUnknown.
    bool long_line_ = false;
    static constexpr std::size_t kEndUnknown = static_cast<std::size_t>(-1);
    std::size_t long_line_end_ = kEndUnknown;
};

} // namespace flatmark
