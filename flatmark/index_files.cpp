#include "index_files.h"

#include <cstring>

namespace flatmark {

void IndexFiles::close_input() {
    input.reset();
}

bool IndexFiles::flush_pending() {
    if (pending_size_ == 0)
        return true;
    const bool written =
        std::fwrite(pending_.get(), 1, pending_size_, index.get()) == pending_size_;
    index_bytes_ += pending_size_;
    pending_size_ = 0;
    return written;
}

bool IndexFiles::close_index() {
    if (!index)
        return true;
    // The keys gathered so far reach the file on every path, errors included.
    const bool flushed = flush_pending();
    const bool closed = hxb::close_file(index);
    return flushed && closed;
}

void IndexFiles::close_all() {
    close_input();
    close_index();
}

void IndexFiles::fail(Error error) {
    close_all();
    raise_error(error);
}

void IndexFiles::fail(Error error, std::uint64_t number) {
    close_all();
    raise_error(error, number);
}

void IndexFiles::write_index(const void* data, std::size_t size) {
    if (!flush_pending())
        fail(Error::CannotWriteIndex);
    if (size == 0)
        return;
    if (std::fwrite(data, 1, size, index.get()) != size)
        fail(Error::CannotWriteIndex);
    index_bytes_ += size;
}

void IndexFiles::make_room(std::size_t size) {
    if (!pending_)
        pending_.reset(new char[kPendingBlock + kCopyPiece]); // room for a last piece
    if (pending_size_ + size > kPendingBlock && !flush_pending())
        fail(Error::CannotWriteIndex);
}

} // namespace flatmark
