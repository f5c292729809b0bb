#include "fuzzkit.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace fuzzkit {
namespace {

// Owns the folder: the destructor of this function-local static runs at a normal exit (the end
// of a bounded run, or of a run over given inputs). A crash leaves it, which is why scripts/fuzz
// points $TMPDIR into the build folder.
class TempFolder {
public:
    TempFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/helixo-fuzz.XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr)
            fail("cannot make a temporary folder from " + pattern);
        path_ = name.data();
    }
    ~TempFolder() {
        if (DIR* d = opendir(path_.c_str())) {
            while (const dirent* e = readdir(d)) {
                const std::string entry = e->d_name;
                if (entry != "." && entry != "..")
                    std::remove((path_ + "/" + entry).c_str());
            }
            closedir(d);
        }
        rmdir(path_.c_str());
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace

const std::string& temp_dir() {
    static const TempFolder folder;
    return folder.path();
}

std::string temp_file(const std::string& name) {
    return temp_dir() + "/" + name;
}

void write_file(const std::string& path, const void* data, std::size_t size) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        fail("cannot write " + path);
    const bool written = size == 0 || std::fwrite(data, 1, size, out) == size;
    if (std::fclose(out) != 0 || !written)
        fail("cannot write " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what.c_str());
    std::abort();
}

std::uint32_t Bytes::u32() {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k)
        v |= std::uint32_t{byte()} << (8 * k);
    return v;
}

std::uint64_t Bytes::u64() {
    const std::uint64_t low = u32();
    return low | std::uint64_t{u32()} << 32;
}

} // namespace fuzzkit
