#include "call_files.h"

#include "contract.h"

#include <sys/types.h>
#include <unistd.h>

namespace traitmark {

CallFiles::~CallFiles() {
    if (appending_)
        cut_back();
    else {
        close_input();
        close_index();
    }
}

bool CallFiles::open_input(const char* path) {
    input_.reset(std::fopen(path, "rb"));
    return input_ != nullptr;
}

void CallFiles::open_index(const char* path) {
    if (!open_index_for_appending(path)) {
        close_input();
        raise_error(Error::CannotOpenIndex);
    }
}

bool CallFiles::open_index_for_appending(const char* path) {
    index_path_ = path;
    hxb::FilePtr existing(std::fopen(path, "rb"));
    if (!existing)
        return false;
    off_t size = -1;
    if (fseeko(existing.get(), 0, SEEK_END) == 0)
        size = ftello(existing.get());
    existing.reset();
    if (size < 0)
        return false;
    starting_size_ = static_cast<std::uint64_t>(size);
    index_.reset(std::fopen(path, "a+b"));
    if (!index_)
        return false;
    appending_ = true;
    return true;
}

void CallFiles::close_input() {
    input_.reset();
}

bool CallFiles::close_index() {
    return hxb::close_file(index_);
}

bool CallFiles::cut_back() {
    close_input();
    close_index();
    if (!appending_)
        return true;
    appending_ = false;
    hxb::FilePtr reopened(std::fopen(index_path_.c_str(), "r+b"));
    if (!reopened)
        return false;
    const bool cut = ftruncate(fileno(reopened.get()), static_cast<off_t>(starting_size_)) == 0;
    const bool closed = hxb::close_file(reopened);
    return cut && closed;
}

bool CallFiles::finish() {
    close_input();
    const bool closed = close_index();
    if (closed)
        appending_ = false;
    return closed;
}

} // namespace traitmark
