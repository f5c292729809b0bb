#include "index_files.h"

#include "errors.h"
#include "hxutil.h"

namespace flatmark {

void IndexFiles::close_input() {
    if (input != nullptr) {
        std::fclose(input);
        input = nullptr;
    }
}

bool IndexFiles::close_index() {
    if (index == nullptr)
        return true;
    const bool flushed = std::fclose(index) == 0;
    index = nullptr;
    return flushed;
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
    if (size == 0)
        return;
    if (std::fwrite(data, 1, size, index) != size)
        fail(kIdCannotWriteIdxFile, kMsgCannotWriteIdxFile);
    indexBytes_ += size;
}

} // namespace flatmark
