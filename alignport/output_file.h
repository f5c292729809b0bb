// The text file the SAM writers append to: opened with mode "at", closed on every path, and
// every write and the close checked so that a full disk is not reported as success.
#pragma once

#include <cstddef>
#include <cstdio>

namespace alignport {

class AppendFile {
public:
    // Opens name for appending (created if missing); ok() tells whether it opened.
    explicit AppendFile(const char* name) : file_(std::fopen(name, "at")) {}
    ~AppendFile() { close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    bool ok() const { return file_ != nullptr; }
    // Writes size bytes; false when the stream failed, now or at an earlier write.
    bool write(const char* data, std::size_t size) {
        if (std::fwrite(data, 1, size, file_) != size)
            failed_ = true;
        return !failed_;
    }
    // Closes the file (once; later calls do nothing). False when a write or the close failed.
    bool close() {
        if (file_ != nullptr) {
            if (std::fclose(file_) != 0)
                failed_ = true;
            file_ = nullptr;
        }
        return !failed_;
    }

private:
    std::FILE* file_;
    bool failed_ = false;
};

} // namespace alignport
