// The thin layer over the BAM library: owners for its handles, opening with the header check,
// index loading by exact file name, and the region walk with early stop.
#pragma once

#include <samtools/bam.h>
#include <samtools/sam.h>

#include <cstdint>
#include <memory>

namespace alignport {

struct SamFileCloser {
    void operator()(samfile_t* file) const { samclose(file); }
};
struct IndexDestroyer {
    void operator()(bam_index_t* index) const { bam_index_destroy(index); }
};
struct RecordDestroyer {
    void operator()(bam1_t* record) const { bam_destroy1(record); }
};
using SamFilePtr = std::unique_ptr<samfile_t, SamFileCloser>;
using IndexPtr = std::unique_ptr<bam_index_t, IndexDestroyer>;
using RecordPtr = std::unique_ptr<bam1_t, RecordDestroyer>;

// A new zero-filled record (never null; throws std::bad_alloc).
RecordPtr new_record();

// Opens a BAM file with samopen(name, "rb"). A handle without a header (what the library returns
// for SAM text or a truncated file) counts as a failed open: it is closed and null returned.
SamFilePtr open_bam(const char* name);

// What an index is checked against: facts of the BAM file it claims to index.
struct BamFacts {
    int n_targets = 0;                     // references in the BAM header
    std::uint64_t first_record_offset = 0; // virtual offset just past the header
    std::uint64_t compressed_size = 0;     // bytes of the BAM file on disk
    bool complete = false;                 // the file ends with the end-of-file block
};

// The facts of a BAM file opened by open_bam under name, taken before any record is read.
// A file whose size cannot be taken gets size 0, so no index that points into it is accepted.
// Reads the file's last 28 bytes and returns to where it was.
BamFacts bam_facts(samfile_t* file, const char* name);

// Loads the BAI index named by text. An existing file that begins with the BAI magic is loaded
// exactly as named, whatever its name; any other text goes to the library's own lookup (TEXT.bai,
// then TEXT less ".bam" plus ".bai"). The file the library would read is first checked in one
// pass: complete and well formed, with at least bam.nTargets references, bins in range and unique
// per reference, every chunk and nonzero linear entry at or after the first record and within
// the file. An index that fails is reported as missing (null) and never handed to the library.
IndexPtr load_index(const char* text, const BamFacts& bam);

// Region end that, with begin 0, covers every position a BAI index addresses: the whole reference.
constexpr int kWholeReferenceEnd = 1 << 29;

// Results of a region walk besides "zero or more at the end of the region".
constexpr int kWalkStopped = -1; // the callback returned a negative value
constexpr int kWalkCorrupt = -2; // the library reported a damaged file

} // namespace alignport

// Region fetch with early stop: calls func once for each alignment record that bam_fetch
// delivers for (tid, beg, end), in the same order, and stops at once when func returns a
// negative value. Returns >= 0 when the region is exhausted, kWalkStopped after a stop,
// kWalkCorrupt on a read error or a file that ends inside the region's indexed data. A region
// whose end is not after its begin delivers nothing.
// The reference number must be valid for the index.
int zrbam_fetch(bamFile fp, const bam_index_t* idx, int tid, int beg, int end, void* data,
                bam_fetch_f func);

// The same walk without the early stop: the callback's result is ignored (bam_fetch's contract),
// read errors still give kWalkCorrupt.
int plain_bam_fetch(bamFile fp, const bam_index_t* idx, int tid, int beg, int end, void* data,
                    bam_fetch_f func);
