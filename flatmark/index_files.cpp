#include "index_files.h"

#include "errors.h"
#include "hxutil.h"

#include <cstring>

namespace flatmark {

void IndexFiles::close_input() {
    if (input != nullptr) {
        std::fclose(input);
        input = nullptr;
    }
}

namespace {
constexpr std::size_t kPendingBlock = std::size_t{1} << 16;
}

bool IndexFiles::flush_pending() {
    if (pending_.empty())
        return true;
    const bool written = std::fwrite(pending_.data(), 1, pending_.size(), index) == pending_.size();
    indexBytes_ += pending_.size();
    pending_.clear();
    return written;
}

bool IndexFiles::close_index() {
    if (index == nullptr)
        return true;
    // The keys gathered so far reach the file on every path, errors included.
    const bool flushed = flush_pending();
    const bool closed = std::fclose(index) == 0;
    index = nullptr;
    return flushed && closed;
}

void IndexFiles::close_all() {
    close_input();
    close_index();
}

void IndexFiles::fail(const char* identifier, const char* message) {
    close_all();
    hxb::raise(identifier, message);
}

void IndexFiles::write_index(const void* data, std::size_t size) {
    if (!flush_pending())
        fail(kIdCannotWriteIdxFile, kMsgCannotWriteIdxFile);
    if (size == 0)
        return;
    if (std::fwrite(data, 1, size, index) != size)
        fail(kIdCannotWriteIdxFile, kMsgCannotWriteIdxFile);
    indexBytes_ += size;
}

void IndexFiles::append_index(const void* data, std::size_t size) {
    if (pending_.capacity() == 0)
        pending_.reserve(kPendingBlock);
    if (pending_.size() + size > kPendingBlock && !flush_pending())
        fail(kIdCannotWriteIdxFile, kMsgCannotWriteIdxFile);
    const char* bytes = static_cast<const char*>(data);
    pending_.insert(pending_.end(), bytes, bytes + size);
}

} // namespace flatmark
