// The two files of one indexing call: the text file being scanned and the index file being
// written. Every way out of a call closes them in the system's order, input file first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

namespace flatmark {

class IndexFiles {
public:
    IndexFiles() = default;
    ~IndexFiles() { close_all(); }
    IndexFiles(const IndexFiles&) = delete;
    IndexFiles& operator=(const IndexFiles&) = delete;

    std::FILE* input = nullptr;
    std::FILE* index = nullptr;

    // Each close is done once; a file already closed is skipped.
    void close_input();
    // Closes the index file, keys gathered so far included; false when the final flush or the
    // close failed (a full disk).
    bool close_index();
    // The input file, then the index file.
    void close_all();

    // Closes the input file, then the index file, then raises identifier/message.
    [[noreturn]] void fail(const char* identifier, const char* message);

    // Appends bytes to the index file; a short write closes both files and raises
    // "CannotWriteIdxFile". Counts what was written since the file was opened.
    void write_index(const void* data, std::size_t size);
    // The same for many small pieces (the key lines): gathered in a block first, so a key
    // costs a copy rather than a stream call. Flushed before any other write and on close.
    void append_index(const void* data, std::size_t size);
    std::uint64_t index_bytes() const { return indexBytes_ + pendingSize_; }

private:
    bool flush_pending();

    std::uint64_t indexBytes_ = 0;
    std::unique_ptr<char[]> pending_;
    std::size_t pendingSize_ = 0;
};

} // namespace flatmark
