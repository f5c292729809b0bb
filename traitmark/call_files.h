// The two files of a call and the index file's starting size. Every path out of a call, an
// error included, closes the input file first and then the index file, as callers rely on;
// the index file is cut back to its starting size when a call ends without a complete block
// of feature values.
#pragma once

#include "file_owner.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace traitmark {

class CallFiles {
public:
    CallFiles() = default;
    CallFiles(const CallFiles&) = delete;
    CallFiles& operator=(const CallFiles&) = delete;
    // An unwind that was not raised through one of the paths below (out of memory, say) still
    // closes both files and takes back what was appended.
    ~CallFiles();

    // Opens the input file for reading ("rb"); false when it cannot be opened.
    bool open_input(const char* path);
    // Records the size of the existing index file and opens it for appending ("a+b"); raises
    // CannotOpenIndex (the input file closed first) when either fails. Never creates it.
    void open_index(const char* path);

    std::FILE* input() const { return input_.get(); }
    std::FILE* index() const { return index_.get(); }

    void close_input();
    // Closes the input file, then the index file, before anything was appended.
    void close_both() { finish(); }
    // Closes the index file, which flushes what was appended; false when that failed.
    bool close_index();
    // Closes both files and truncates the index file back to its starting size. False when the
    // file could not be reopened or truncated (it then keeps what was flushed into it).
    bool cut_back();
    // A normal end: both files closed and the block kept. False when the index file could not
    // be flushed and closed (the caller then cuts back).
    bool finish();

private:
    // open_index's work; false when the file cannot be opened for reading, sized, or opened
    // for appending.
    bool open_index_for_appending(const char* path);

    hxb::FilePtr input_;
    hxb::FilePtr index_;
    std::string index_path_;
    std::uint64_t starting_size_ = 0;
    bool appending_ = false; // the index file may hold values that a failure must take back
};

} // namespace traitmark
