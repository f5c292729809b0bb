// The text file the SAM writers append to: opened with mode "at", closed on every path, and
// every write and the close checked so that a full disk is not reported as success.
#pragma once

#include "file_owner.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

namespace alignport {

class AppendFile {
public:
    // Opens name for appending (created if missing); ok() tells whether it opened.
    explicit AppendFile(const char* name) : file_(std::fopen(name, "at")) {}
    ~AppendFile() { close(); } // what was written is flushed; a failure is not reported
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    bool ok() const { return file_ != nullptr; }
    // Writes size bytes; false when the stream failed, now or at an earlier write. Small writes
    // wait in the file's own buffer and reach the stream in large ones.
    bool write(const char* data, std::size_t size) {
        if (size > kBatch - filled_ && !flush())
            return false;
        if (size >= kBatch)
            return put(data, size);
        if (pending_.empty())
            pending_.resize(kBatch);
        std::memcpy(pending_.data() + filled_, data, size);
        filled_ += size;
        return !failed_;
    }
    // Closes the file (once; later calls do nothing). False when a write or the close failed.
    bool close() {
        if (file_ != nullptr) {
            flush();
            if (!hxb::close_file(file_))
                failed_ = true;
        }
        return !failed_;
    }

private:
    static constexpr std::size_t kBatch = 1 << 18;

    bool put(const char* data, std::size_t size) {
        if (std::fwrite(data, 1, size, file_.get()) != size)
            failed_ = true;
        return !failed_;
    }
    bool flush() {
        const std::size_t n = filled_;
        filled_ = 0;
        return n == 0 ? !failed_ : put(pending_.data(), n);
    }

    hxb::FilePtr file_;
    std::vector<char> pending_;
    std::size_t filled_ = 0;
    bool failed_ = false;
};

} // namespace alignport
