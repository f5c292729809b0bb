#include "bam_layer.h"

#include "bam_record_reader.h"
#include "file_owner.h"
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
#include <vector>

namespace alignport {

namespace {

bool read_exact(std::FILE* f, void* buf, std::size_t n) {
    return std::fread(buf, 1, n, f) == n;
}

// Bin numbers of a BAI: 0 .. kLastBin are the bins of the binning scheme; kMetaBin is the
// pseudo-bin of per-reference statistics that this library and later ones write. Its two "chunks"
// are the reference's first and last offsets and its mapped and unmapped counts; queries never
// look at it, so only its shape is checked.
constexpr std::uint32_t kLastBin = 37449;
constexpr std::uint32_t kMetaBin = 37450;
static_assert(kMetaBin == kLastBin + 1, "the pseudo-bin follows the last bin of the scheme");
constexpr std::int32_t kMetaBinChunks = 2;

// A little-endian reader over a BAI file that never reads past the bytes the file holds.
class BaiReader {
public:
    BaiReader(std::FILE* f, long size) : f_(f), remaining_(size) {}
    bool u32(std::uint32_t& v) {
        unsigned char b[4];
        if (!take(b, sizeof b))
            return false;
        v = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
            (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
        return true;
    }
    bool i32(std::int32_t& v) {
        std::uint32_t u = 0;
        if (!u32(u))
            return false;
        v = static_cast<std::int32_t>(u);
        return true;
    }
    bool u64(std::uint64_t& v) {
        std::uint32_t low = 0, high = 0;
        if (!u32(low) || !u32(high))
            return false;
        v = (static_cast<std::uint64_t>(high) << 32) | low;
        return true;
    }
    // A count of items of item_size bytes that the rest of the file can hold.
    bool holds(std::int32_t count, long item_size) const {
        return count >= 0 && static_cast<long>(count) <= remaining_ / item_size;
    }
    bool skip(long bytes) {
        if (bytes < 0 || bytes > remaining_)
            return false;
        remaining_ -= bytes;
        return std::fseek(f_, bytes, SEEK_CUR) == 0;
    }

private:
    bool take(unsigned char* buf, long n) {
        if (n > remaining_)
            return false;
        remaining_ -= n;
        return read_exact(f_, buf, static_cast<std::size_t>(n));
    }
    std::FILE* f_;
    long remaining_;
};

// The bin numbers met in one reference: a bit per number, cleared through the list of those set,
// so that the set is reused across references at the cost of their bins only.
class BinSet {
public:
    BinSet() : bits_(kMetaBin / 64 + 1, 0) {}
    // False when bin was already in the set.
    bool insert(std::uint32_t bin) {
        std::uint64_t& word = bits_[bin / 64];
        const std::uint64_t mask = std::uint64_t{1} << (bin % 64);
        if ((word & mask) != 0)
            return false;
        word |= mask;
        set_.push_back(bin);
        return true;
    }
    void clear() {
        for (std::uint32_t bin : set_)
            bits_[bin / 64] = 0;
        set_.clear();
    }

private:
    std::vector<std::uint64_t> bits_;
    std::vector<std::uint32_t> set_;
};

// A virtual offset that can name the start of a record of the BAM: not inside its header, and
// inside the file. Its block may be the file's end only with nothing in it (the end of the last
// chunk of a file without the end-of-file block). The index of a whole file over a copy cut
// short points past the copy's end; that is the BAM's damage, which the walks report as such,
// so the size bound holds for a complete file only.
bool in_record_area(std::uint64_t offset, const BamFacts& bam) {
    if (offset < bam.first_record_offset)
        return false;
    if (!bam.complete)
        return true;
    const std::uint64_t block = offset >> 16;
    return block < bam.compressed_size || (block == bam.compressed_size && (offset & 0xffff) == 0);
}

// Chunks of a real bin: each begins in the record area and ends after it begins, within the file.
bool chunks_are_valid(BaiReader& in, std::int32_t n_chunk, const BamFacts& bam) {
    for (std::int32_t c = 0; c < n_chunk; ++c) {
        std::uint64_t begin = 0, end = 0;
        if (!in.u64(begin) || !in.u64(end))
            return false;
        if (!in_record_area(begin, bam) || end <= begin || !in_record_area(end, bam))
            return false;
    }
    return true;
}

// Walks the whole BAI structure in one pass, checking every count against the bytes that remain
// (so the library's unchecked reads never run past the end of a damaged file) and every bin,
// chunk and linear-index entry against the BAM it is to index (so no query seeks into the header,
// past the file, or through a bin given twice, which the library's loader would leak).
bool bai_is_well_formed(const std::string& path, const BamFacts& bam, bool* has_magic) {
    *has_magic = false;
    hxb::FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return false;
    if (std::fseek(f.get(), 0, SEEK_END) != 0)
        return false;
    const long size = std::ftell(f.get());
    if (size < 8 || std::fseek(f.get(), 0, SEEK_SET) != 0)
        return false;
    char magic[4];
    if (!read_exact(f.get(), magic, 4) || std::memcmp(magic, "BAI\1", 4) != 0)
        return false;
    *has_magic = true;
    BaiReader in(f.get(), size - 4);
    std::int32_t n_ref = 0;
    if (!in.i32(n_ref) || n_ref < 0 || n_ref < bam.n_targets)
        return false;
    BinSet seen;
    for (std::int32_t r = 0; r < n_ref; ++r) {
        std::int32_t n_bin = 0;
        if (!in.i32(n_bin) || !in.holds(n_bin, 8))
            return false;
        seen.clear();
        for (std::int32_t b = 0; b < n_bin; ++b) {
            std::uint32_t bin = 0;
            std::int32_t n_chunk = 0;
            if (!in.u32(bin) || !in.i32(n_chunk) || !in.holds(n_chunk, 16))
                return false;
            if (bin > kMetaBin || !seen.insert(bin))
                return false;
            if (bin == kMetaBin) {
                if (n_chunk != kMetaBinChunks || !in.skip(16L * kMetaBinChunks))
                    return false;
            } else if (!chunks_are_valid(in, n_chunk, bam)) {
                return false;
            }
        }
        std::int32_t n_intv = 0;
        if (!in.i32(n_intv) || !in.holds(n_intv, 8))
            return false;
        for (std::int32_t k = 0; k < n_intv; ++k) {
            std::uint64_t offset = 0;
            if (!in.u64(offset))
                return false;
            // 0 marks a window before the reference's first record.
            if (offset != 0 && !in_record_area(offset, bam))
                return false;
        }
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

BamFacts bam_facts(samfile_t* file, const char* name) {
    BamFacts facts;
    facts.n_targets = file->header->n_targets;
    facts.first_record_offset = static_cast<std::uint64_t>(bam_tell(file->x.bam));
    struct stat st {};
    if (::stat(name, &st) == 0 && S_ISREG(st.st_mode))
        facts.compressed_size = static_cast<std::uint64_t>(st.st_size);
    facts.complete = bgzf_check_EOF(file->x.bam) == 1;
    return facts;
}

IndexPtr load_index(const char* text, const BamFacts& bam) {
    const std::string name(text);
    bool has_magic = false;
    if (is_regular_file(name) && bai_is_well_formed(name, bam, &has_magic)) {
        if (ends_with(name, ".bai"))
            return IndexPtr(bam_index_load(name.substr(0, name.size() - 4).c_str()));
        IndexLink link(name);
        if (link.base().empty())
            return nullptr;
        return IndexPtr(bam_index_load(link.base().c_str()));
    }
    if (has_magic)
        return nullptr; // a BAI, but damaged or made for another file
    // The library's own lookup; check the file it would read before it reads it.
    std::string candidate = name + ".bai";
    if (!is_regular_file(candidate) && ends_with(name, ".bam"))
        candidate = name.substr(0, name.size() - 4) + ".bai";
    if (!is_regular_file(candidate) || !bai_is_well_formed(candidate, bam, &has_magic))
        return nullptr;
    return IndexPtr(bam_index_load(name.c_str()));
}

} // namespace alignport

namespace {

struct IterPtr {
    bam_iter_t iter;
    ~IterPtr() {
        if (iter != nullptr)
            bam_iter_destroy(iter);
    }
};

int walk(bamFile fp, const bam_index_t* idx, int tid, int beg, int end, void* data,
         bam_fetch_f func, bool honour_stop) {
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
    const unsigned long end_of_file_before = alignport::end_of_file_reads(fp);
    int ret;
    while ((ret = alignport::guarded_iter_read(fp, it.iter, record.get())) >= 0) {
        if (func(record.get(), data) < 0 && honour_stop)
            return alignport::kWalkStopped;
    }
    if (ret < -1)
        return alignport::kWalkCorrupt;
    // The iterator reads to the end of the file only in the last chunk of the last reference.
    // A file cut at a block boundary ends there too, but without the end-of-file block that
    // every complete BAM ends with: without it the walk saw less than the index says is there.
    // The checked reader counts those reads (none where the linker cannot wrap it).
    if (alignport::end_of_file_reads(fp) != end_of_file_before && bgzf_check_EOF(fp) != 1)
        return alignport::kWalkCorrupt;
    return 0;
}

} // namespace

int zrbam_fetch(bamFile fp, const bam_index_t* idx, int tid, int beg, int end, void* data,
                bam_fetch_f func) {
    return walk(fp, idx, tid, beg, end, data, func, true);
}

int plain_bam_fetch(bamFile fp, const bam_index_t* idx, int tid, int beg, int end, void* data,
                    bam_fetch_f func) {
    return walk(fp, idx, tid, beg, end, data, func, false);
}
