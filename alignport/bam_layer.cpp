#include "bam_layer.h"

#include "library_guard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace alignport {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool read_exact(std::FILE* f, void* buf, std::size_t n) { return std::fread(buf, 1, n, f) == n; }

bool read_i32(std::FILE* f, std::int32_t& v) {
    unsigned char b[4];
    if (!read_exact(f, b, 4))
        return false;
    v = static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) |
                                  (static_cast<std::uint32_t>(b[1]) << 8) |
                                  (static_cast<std::uint32_t>(b[2]) << 16) |
                                  (static_cast<std::uint32_t>(b[3]) << 24));
    return true;
}

bool skip(std::FILE* f, long bytes, long& remaining) {
    if (bytes < 0 || bytes > remaining)
        return false;
    remaining -= bytes;
    return std::fseek(f, bytes, SEEK_CUR) == 0;
}

// Walks the whole BAI structure, checking every count against the bytes that remain, so the
// library's unchecked reads never run past the end of a damaged file.
bool bai_is_well_formed(const std::string& path, int nTargets, bool* hasMagic) {
    *hasMagic = false;
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return false;
    if (std::fseek(f.get(), 0, SEEK_END) != 0)
        return false;
    long remaining = std::ftell(f.get());
    if (remaining < 8 || std::fseek(f.get(), 0, SEEK_SET) != 0)
        return false;
    char magic[4];
    if (!read_exact(f.get(), magic, 4) || std::memcmp(magic, "BAI\1", 4) != 0)
        return false;
    *hasMagic = true;
    remaining -= 4;
    std::int32_t nRef = 0;
    if (!read_i32(f.get(), nRef) || nRef < 0 || nRef < nTargets)
        return false;
    remaining -= 4;
    for (std::int32_t r = 0; r < nRef; ++r) {
        std::int32_t nBin = 0;
        if (remaining < 4 || !read_i32(f.get(), nBin) || nBin < 0)
            return false;
        remaining -= 4;
        for (std::int32_t b = 0; b < nBin; ++b) {
            std::int32_t nChunk = 0;
            if (!skip(f.get(), 4, remaining) || remaining < 4 || !read_i32(f.get(), nChunk) ||
                nChunk < 0)
                return false;
            remaining -= 4;
            if (static_cast<long>(nChunk) > remaining / 16 ||
                !skip(f.get(), static_cast<long>(nChunk) * 16, remaining))
                return false;
        }
        std::int32_t nIntv = 0;
        if (remaining < 4 || !read_i32(f.get(), nIntv) || nIntv < 0)
            return false;
        remaining -= 4;
        if (static_cast<long>(nIntv) > remaining / 8 ||
            !skip(f.get(), static_cast<long>(nIntv) * 8, remaining))
            return false;
    }
    return true; // an optional unplaced-read count may follow
}

bool is_regular_file(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ends_with(const std::string& s, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// A private folder holding one link "x.bai" to a file whose name does not end in ".bai",
// removed when the index has been read.
class IndexLink {
public:
    explicit IndexLink(const std::string& target) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/hxbai.XXXXXX";
        std::string buf = pattern;
        if (::mkdtemp(&buf[0]) == nullptr)
            return;
        dir_ = buf;
        std::string absolute = target;
        if (!target.empty() && target[0] != '/') {
            char cwd[4096];
            if (::getcwd(cwd, sizeof cwd) != nullptr)
                absolute = std::string(cwd) + "/" + target;
        }
        if (::symlink(absolute.c_str(), (dir_ + "/x.bai").c_str()) == 0)
            base_ = dir_ + "/x";
    }
    ~IndexLink() {
        if (!base_.empty())
            ::unlink((base_ + ".bai").c_str());
        if (!dir_.empty())
            ::rmdir(dir_.c_str());
    }
    IndexLink(const IndexLink&) = delete;
    IndexLink& operator=(const IndexLink&) = delete;
    const std::string& base() const { return base_; }

private:
    std::string dir_;
    std::string base_;
};

} // namespace

RecordPtr new_record() {
    bam1_t* record = bam_init1();
    if (record == nullptr)
        throw std::bad_alloc();
    return RecordPtr(record);
}

SamFilePtr open_bam(const char* name) {
    SamFilePtr file(samopen(name, "rb", nullptr));
    if (file && file->header == nullptr)
        file.reset();
    return file;
}

IndexPtr load_index(const char* text, int nTargets) {
    const std::string name(text);
    bool hasMagic = false;
    if (is_regular_file(name) && bai_is_well_formed(name, nTargets, &hasMagic)) {
        if (ends_with(name, ".bai"))
            return IndexPtr(bam_index_load(name.substr(0, name.size() - 4).c_str()));
        IndexLink link(name);
        if (link.base().empty())
            return nullptr;
        return IndexPtr(bam_index_load(link.base().c_str()));
    }
    if (hasMagic)
        return nullptr; // a BAI, but damaged or made for another file
    // The library's own lookup; check the file it would read before it reads it.
    std::string candidate = name + ".bai";
    if (!is_regular_file(candidate) && ends_with(name, ".bam"))
        candidate = name.substr(0, name.size() - 4) + ".bai";
    if (!is_regular_file(candidate) || !bai_is_well_formed(candidate, nTargets, &hasMagic))
        return nullptr;
    return IndexPtr(bam_index_load(name.c_str()));
}

} // namespace alignport

namespace {

// Record reads inside the library that met the end of the file (see note_library_read).
unsigned long g_endOfFileReads = 0;

struct IterPtr {
    bam_iter_t iter;
    ~IterPtr() {
        if (iter != nullptr)
            bam_iter_destroy(iter);
    }
};

int walk(bamFile fp, const bam_index_t* idx, int tid, int beg, int end, void* data,
         bam_fetch_f func, bool honourStop) {
    // The library clamps a negative begin to 0; an empty region must be seen as such here,
    // since the library's iterator would otherwise read on from the file's current position.
    if (beg < 0)
        beg = 0;
    if (end <= beg)
        return 0;
    IterPtr it{bam_iter_query(idx, tid, beg, end)};
    if (it.iter == nullptr)
        return 0;
    alignport::RecordPtr record = alignport::new_record();
    const unsigned long endOfFileBefore = g_endOfFileReads;
    int ret;
    while ((ret = alignport::guarded_iter_read(fp, it.iter, record.get())) >= 0) {
        if (func(record.get(), data) < 0 && honourStop)
            return alignport::kWalkStopped;
    }
    if (ret < -1)
        return alignport::kWalkCorrupt;
    // The iterator reads to the end of the file only in the last chunk of the last reference.
    // A file cut at a block boundary ends there too, but without the end-of-file block that
    // every complete BAM ends with: without it the walk saw less than the index says is there.
    if (g_endOfFileReads != endOfFileBefore && bgzf_check_EOF(fp) != 1)
        return alignport::kWalkCorrupt;
    return 0;
}

} // namespace

void alignport::note_library_read(int result) {
    if (result == -1)
        ++g_endOfFileReads;
}

int zrbam_fetch(bamFile fp, const bam_index_t* idx, int tid, int beg, int end, void* data,
                bam_fetch_f func) {
    return walk(fp, idx, tid, beg, end, data, func, true);
}

int plain_bam_fetch(bamFile fp, const bam_index_t* idx, int tid, int beg, int end, void* data,
                    bam_fetch_f func) {
    return walk(fp, idx, tid, beg, end, data, func, false);
}
