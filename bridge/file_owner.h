// One owner for C FILE streams in every plug-in and in hxrun: the stream closes when its owner
// goes, on every path, errors and unwinding included. Where a close can lose written data,
// close_file reports it.
#pragma once

#include <cstdio>
#include <memory>

namespace hxb {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Closes the stream now; false when fclose fails (buffered data not written). Empty: true.
inline bool close_file(FilePtr& file) {
    std::FILE* stream = file.release();
    return stream == nullptr || std::fclose(stream) == 0;
}

} // namespace hxb
