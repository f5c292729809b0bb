// The two files of one indexing call: the text file being scanned and the index file being
// written. Every way out of a call, an error included, closes the input file first and then
// the index file (which flushes the keys gathered so far into it), as callers rely on.
#pragma once

#include "contract.h"
#include "file_owner.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace flatmark {

constexpr std::size_t kPendingBlock = std::size_t{1} << 16;
constexpr std::size_t kCopyPiece = 16;

class IndexFiles {
public:
    IndexFiles() = default;
    ~IndexFiles() { close_all(); }
    IndexFiles(const IndexFiles&) = delete;
    IndexFiles& operator=(const IndexFiles&) = delete;

    hxb::FilePtr input;
    hxb::FilePtr index;

    // Each close is done once; a file already closed is skipped.
    void close_input();
    // Closes the index file, keys gathered so far included; false when the final flush or the
    // close failed (a full disk).
    bool close_index();
    // The input file, then the index file.
    void close_all();

    // Closes the input file, then the index file, then raises the error's row (number stands
    // for the "{}" of its message).
    [[noreturn]] void fail(Error error);
    [[noreturn]] void fail(Error error, std::uint64_t number);

    // Appends bytes to the index file; a short write closes both files and raises
    // CannotWriteIndex. Counts what was written since the file was opened.
    void write_index(const void* data, std::size_t size);
    // A key and a line feed, gathered in a block first, so a key costs a copy rather than a
    // stream call; the block is flushed before any other write and on close. The key's buffer is
    // readable up to the next multiple of 16 bytes past length: it is copied inline in 16-byte
    // pieces.
    void append_key_line(const char* key, std::size_t length) {
        if (!pending_ || pending_size_ + length + 1 > kPendingBlock)
            make_room(length + 1);
        char* to = pending_.get() + pending_size_;
        for (std::size_t i = 0; i < length; i += kCopyPiece)
            std::memcpy(to + i, key + i, kCopyPiece);
        to[length] = '\n';
        pending_size_ += length + 1;
    }
    std::uint64_t index_bytes() const { return index_bytes_ + pending_size_; }

private:
    bool flush_pending();
    // Room for size more bytes (at most a block) in the pending block: allocated at first, else
    // flushed when full; a failed write closes both files and raises.
    void make_room(std::size_t size);

    std::uint64_t index_bytes_ = 0;
    std::unique_ptr<char[]> pending_;
    std::size_t pending_size_ = 0;
};

} // namespace flatmark
