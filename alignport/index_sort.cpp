// Index building and sorting: indexbamfile writes the BAI of a coordinate-sorted BAM file,
// bamsort sorts a BAM file by coordinate into PREFIX.bam. The BAM library does the work; these
// services check the input first and what the library produced afterwards, since the library
// reports a truncated input, an unwritable output or a short write only on standard error.
// indexbamfile reads the whole input once before the library does: the library's index builder
// gives up on an out-of-order record without freeing what it has built, so it is only ever
// handed a file whose every record is readable and in the order it demands.
#include "bam_layer.h"
#include "bam_record_reader.h"
#include "contract.h"
#include "file_owner.h"
#include "hxutil.h"
#include "library_guard.h"
#include "service_inputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

// Not declared in the headers of the installed library (0.1.19); these are its definitions.
extern "C" {
int bam_index_build2(const char* fn, const char* _fnidx);
int bam_sort_core_ext(int is_by_qname, const char* fn, const char* prefix, std::size_t max_mem,
                      int is_stdout, int n_threads, int level, int full_path);
}

namespace alignport {
namespace {

constexpr std::size_t kSortMemory = 500000000;

// The empty BGZF block every complete BAM file ends with.
constexpr unsigned char kEndOfFileBlock[28] = {0x1f, 0x8b, 8,    4,    0, 0, 0,    0, 0, 0xff,
                                               6,    0,    0x42, 0x43, 2, 0, 0x1b, 0, 3, 0,
                                               0,    0,    0,    0,    0, 0, 0,    0};

// True when the named file ends with the BGZF end-of-file block. A BAM file cut short anywhere
// lacks it; the library would read such a file up to the cut and carry on as if it had ended.
bool ends_with_eof_block(const char* name) {
    hxb::FilePtr f(std::fopen(name, "rb"));
    if (!f)
        return false;
    unsigned char tail[sizeof kEndOfFileBlock];
    return std::fseek(f.get(), -static_cast<long>(sizeof tail), SEEK_END) == 0 &&
           std::fread(tail, 1, sizeof tail, f.get()) == sizeof tail &&
           std::memcmp(tail, kEndOfFileBlock, sizeof tail) == 0;
}

enum class ProbeResult { Readable, CannotOpen, Corrupted };

// Opens the BAM file, takes its facts, reads its first record and closes it; then checks the
// file is complete.
ProbeResult probe_bam(const char* name, BamFacts& facts) {
    SamFilePtr file = open_bam(name);
    if (!file)
        return ProbeResult::CannotOpen;
    facts = bam_facts(file.get(), name);
    RecordPtr record = new_record();
    const int result = guarded_samread(file.get(), record.get());
    // Closed before the file is opened again for its end.
    file.reset();
    if (result < 0 || !ends_with_eof_block(name))
        return ProbeResult::Corrupted;
    return ProbeResult::Readable;
}

// The order the library's index builder demands, applied as the builder applies it. It is not
// baminfo's sortedness rule: here every record of a reference is compared with the one before
// it, the first record of a reference included. References ascend (some may be skipped); the
// first record without a reference ends the builder's main loop, and no record with a
// reference may follow it. Comparisons are the builder's own, on 32-bit signed values.
class IndexOrder {
public:
    // False when the builder would refuse the file at this record.
    bool accept(std::int32_t tid, std::int32_t pos) {
        if (in_tail_)
            return tid < 0;
        if (last_tid_ < tid || (last_tid_ >= 0 && tid < 0))
            last_tid_ = tid;
        else if (static_cast<std::uint32_t>(last_tid_) > static_cast<std::uint32_t>(tid))
            return false;
        else if (tid >= 0 && last_pos_ > pos)
            return false;
        in_tail_ = tid < 0;
        last_pos_ = pos;
        return true;
    }

private:
    std::int32_t last_tid_ = -1;
    std::int32_t last_pos_ = -1;
    bool in_tail_ = false;
};

enum class ScanResult { InOrder, OutOfOrder, Corrupted };

// Reads every record of the BAM file (already probed) and applies IndexOrder. A read error, or a
// record whose reference the header does not have (the builder would index past its tables),
// is a damaged file.
ScanResult scan_index_order(const char* name, int n_targets) {
    SamFilePtr file = open_bam(name);
    if (!file)
        return ScanResult::Corrupted;
    RecordPtr record = new_record();
    IndexOrder order;
    int result;
    while ((result = guarded_samread(file.get(), record.get())) >= 0) {
        const bam1_core_t& core = record->core;
        if (core.tid >= n_targets)
            return ScanResult::Corrupted;
        if (!order.accept(core.tid, core.pos))
            return ScanResult::OutOfOrder;
    }
    return result == -1 ? ScanResult::InOrder : ScanResult::Corrupted;
}

// A fresh, empty file beside target (same folder, so the final rename stays on one file system),
// removed on destruction unless kept. Its name ends in ".bai" so the index loader reads it as is.
class SiblingTempFile {
public:
    explicit SiblingTempFile(const std::string& target) {
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            std::string candidate = target + "." + std::to_string(::getpid()) + "-" +
                                    std::to_string(attempt) + ".part.bai";
            const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
            if (fd >= 0) {
                ::close(fd);
                path_ = candidate;
            } else if (errno != EEXIST) {
                return;
            }
        }
    }
    ~SiblingTempFile() {
        if (!path_.empty())
            std::remove(path_.c_str());
    }
    SiblingTempFile(const SiblingTempFile&) = delete;
    SiblingTempFile& operator=(const SiblingTempFile&) = delete;
    bool created() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    // Moves the file to target; on success it is no longer removed.
    bool commit(const std::string& target) {
        if (std::rename(path_.c_str(), target.c_str()) != 0)
            return false;
        path_.clear();
        return true;
    }

private:
    std::string path_;
};

struct IndexBuild {
    const char* bam;
    const char* bai;
};

int build_index(void* context) {
    const auto* job = static_cast<const IndexBuild*>(context);
    return bam_index_build2(job->bam, job->bai);
}

struct SortJob {
    const char* bam;
    const char* prefix;
};

int sort_by_coordinate(void* context) {
    const auto* job = static_cast<const SortJob*>(context);
    return bam_sort_core_ext(0, job->bam, job->prefix, kSortMemory, 0, 0, -1, 0);
}

// True when name can be created or written. A file this creates is removed again.
bool can_create(const std::string& name) {
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(name.c_str());
        return true;
    }
    if (errno != EEXIST)
        return false;
    fd = ::open(name.c_str(), O_WRONLY);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

void indexbamfileF(int outCount, haArray* /*outSlots*/[], int inCount, const haArray* inArgs[]) {
    constexpr ServiceId service = ServiceId::IndexBamFile;
    check_counts(service, inCount, outCount);
    char bam_name[kFileNameBuffer];
    char bai_name[kFileNameBuffer];
    if (!hxb::read_text(inArgs[0], bam_name, sizeof bam_name))
        raise_error(Error::InvalidBamName);
    if (!hxb::read_text(inArgs[1], bai_name, sizeof bai_name))
        raise_error(Error::InvalidBaiName);
    BamFacts facts;
    switch (probe_bam(bam_name, facts)) {
    case ProbeResult::CannotOpen:
        raise_error(Error::CannotOpenBam);
    case ProbeResult::Corrupted:
        raise_error(Error::CorruptedBam);
    case ProbeResult::Readable:
        break;
    }
    // The index is written beside its final name and moved there only when complete, so a
    // failed build leaves no new file and an existing index as it was.
    SiblingTempFile part{std::string(bai_name)};
    if (!part.created())
        raise_error(Error::CannotOpenIndexOutput);
    // Every raise from here on removes the part file as it unwinds (SiblingTempFile).
    switch (scan_index_order(bam_name, facts.n_targets)) {
    case ScanResult::Corrupted:
        raise_error(Error::CorruptedBam);
    case ScanResult::OutOfOrder:
        raise_error(service, Error::CannotBuildIndex);
    case ScanResult::InOrder:
        break;
    }
    IndexBuild job{bam_name, part.path().c_str()};
    int result = -1;
    const unsigned long read_errors = library_read_errors();
    if (!call_guarded(build_index, &job, result) || library_read_errors() != read_errors)
        raise_error(Error::CorruptedBam);
    // The order was checked above; a failure left here is the library's own (it could not create
    // the index file, say).
    if (result < 0)
        raise_error(service, Error::CannotBuildIndex);
    // The library does not check its writes: read the index back before it replaces anything.
    if (!load_index(part.path().c_str(), facts) || !part.commit(bai_name))
        raise_error(Error::CannotWriteOutput);
}

void bamsortF(int outCount, haArray* /*outSlots*/[], int inCount, const haArray* inArgs[]) {
    check_counts(ServiceId::BamSort, inCount, outCount);
    char bam_name[kFileNameBuffer];
    if (!hxb::read_text(inArgs[0], bam_name, sizeof bam_name))
        raise_error(Error::InvalidBamName);
    BamFacts facts;
    switch (probe_bam(bam_name, facts)) {
    case ProbeResult::CannotOpen:
        raise_error(Error::CannotOpenBam);
    case ProbeResult::Corrupted:
        raise_error(Error::BamCorruptedAsSam);
    case ProbeResult::Readable:
        break;
    }
    char prefix[kFileNameBuffer];
    if (!hxb::read_text(inArgs[1], prefix, sizeof prefix))
        raise_error(Error::InvalidPrefix);
    // The library names its output PREFIX.bam and only finds out that it cannot create it after
    // the whole sort, without telling its caller: check before and after.
    const std::string sorted = std::string(prefix) + ".bam";
    if (!can_create(sorted))
        raise_error(Error::CannotCreateOutput);
    SortJob job{bam_name, prefix};
    int result = -1;
    const unsigned long read_errors = library_read_errors();
    // A read error in the middle of the input would otherwise give a sorted file that silently
    // lacks every record after it. What the library wrote stays on disk, as after any failure.
    if (!call_guarded(sort_by_coordinate, &job, result) || result < 0 ||
        library_read_errors() != read_errors)
        raise_error(Error::BamCorruptedAsSam);
    struct stat st {};
    if (::stat(sorted.c_str(), &st) != 0)
        raise_error(Error::CannotCreateOutput);
    if (!ends_with_eof_block(sorted.c_str()))
        raise_error(Error::CannotWriteOutput);
}

} // namespace alignport
