#include "call_files.h"

#include "file_owner.h"
#include "hxutil.h"

#include <sys/types.h>
#include <unistd.h>

namespace traitmark {

void fail(const char* name, const char* message) {
    hxb::raise(std::string("helixo:traitmark:") + name, message);
}

void fail(const char* name, const std::string& message) {
    hxb::raise(std::string("helixo:traitmark:") + name, message);
}

CallFiles::~CallFiles() {
    if (appending_)
        cut_back();
    else {
        close_input();
        close_index();
    }
}

bool CallFiles::open_input(const char* path) {
    input_ = std::fopen(path, "rb");
    return input_ != nullptr;
}

void CallFiles::open_index(const char* path) {
    index_path_ = path;
    hxb::FilePtr existing(std::fopen(path, "rb"));
    if (!existing) {
        close_input();
        fail("CannotOpenIdxFile", "Could not open output index file.");
    }
    off_t size = -1;
    if (fseeko(existing.get(), 0, SEEK_END) == 0)
        size = ftello(existing.get());
    existing.reset();
    if (size < 0) {
        close_input();
        fail("CannotOpenIdxFile", "Could not open output index file.");
    }
    starting_size_ = static_cast<std::uint64_t>(size);
    index_ = std::fopen(path, "a+b");
    if (index_ == nullptr) {
        close_input();
        fail("CannotOpenIdxFile", "Could not open output index file.");
    }
    appending_ = true;
}

void CallFiles::close_input() {
    if (input_ != nullptr)
        std::fclose(input_);
    input_ = nullptr;
}

bool CallFiles::close_index() {
    if (index_ == nullptr)
        return true;
    const bool closed = std::fclose(index_) == 0;
    index_ = nullptr;
    return closed;
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
