// What the alignport benchmarks share: processor and wall clocks, and the seeded sample data
// (coordinate-sorted SAM text and its indexed BAM file) that bench_summaries and bench_sam_text
// run on. Each benchmark is one program, so everything here is inline.
#pragma once

#include "hxhost.h"

#include <samtools/bam.h>
#include <samtools/sam.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace benchkit {

// Processor time (user and system, this process and its children): on a shared machine the
// wall clock measures the neighbours as much as the work.
inline double cpu_seconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage u {};
        ::getrusage(who, &u);
        total += static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                 static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
    }
    return total;
}

inline double wall_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Timing {
    double cpu;
    double wall;
};

inline Timing timed(const std::function<void()>& work) {
    const double c = cpu_seconds(), w = wall_seconds();
    work();
    return {cpu_seconds() - c, wall_seconds() - w};
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

constexpr int kReferences = 4;
constexpr int kReferenceLength = 100000000;
constexpr int kReadLength = 100;

// Coordinate-sorted SAM text, streamed: RECORDS reads of 100 bases over four references (each
// a quarter of the placed reads), 1% unplaced.
inline void write_sam(const std::string& path, long records) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr)
        throw std::runtime_error("cannot write " + path);
    std::fprintf(f, "@HD\tVN:1.0\tSO:coordinate\n");
    for (int r = 0; r < kReferences; ++r)
        std::fprintf(f, "@SQ\tSN:chr%d\tLN:%d\n", r + 1, kReferenceLength);
    std::mt19937 rng(17);
    static const char kBases[] = "ACGT";
    char seq[kReadLength + 1] = {0}, qual[kReadLength + 1] = {0};
    const long unplaced = records / 100;
    const long per_reference = (records - unplaced) / kReferences;
    long written = 0;
    for (int r = 0; r < kReferences; ++r) {
        long pos = 1;
        const long count = r + 1 == kReferences ? records - unplaced - written : per_reference;
        for (long k = 0; k < count; ++k, ++written) {
            pos += static_cast<long>(rng() % 40);
            for (int j = 0; j < kReadLength; ++j) {
                seq[j] = kBases[rng() % 4];
                qual[j] = static_cast<char>('!' + rng() % 41);
            }
            std::fprintf(f, "r%d_%ld\t%d\tchr%d\t%ld\t%u\t%dM\t*\t0\t0\t%s\t%s\tNM:i:%u\tRG:Z:g1\n",
                         r, k, (rng() & 1) ? 16 : 0, r + 1, pos, static_cast<unsigned>(rng() % 61),
                         kReadLength, seq, qual, static_cast<unsigned>(rng() % 5));
        }
    }
    for (long k = 0; k < unplaced; ++k)
        std::fprintf(f, "u%ld\t4\t*\t0\t0\t*\t*\t0\t0\t%s\t%s\n", k, seq, qual);
    std::fclose(f);
}

// The SAM text as a BAM file with its BAI, through the library.
inline void sam_to_bam(const std::string& sam, const std::string& bam) {
    samfile_t* in = samopen(sam.c_str(), "r", nullptr);
    samfile_t* out = in ? samopen(bam.c_str(), "wb", in->header) : nullptr;
    if (out == nullptr)
        throw std::runtime_error("cannot convert " + sam);
    bam1_t* b = bam_init1();
    while (samread(in, b) >= 0)
        samwrite(out, b);
    bam_destroy1(b);
    samclose(out);
    samclose(in);
    bam_index_build(bam.c_str());
}

// The folder of the running program (the plug-ins lie beside it).
inline std::string folder_of(const char* argv0) {
    std::string p(argv0);
    const auto slash = p.rfind('/');
    return slash == std::string::npos ? "." : p.substr(0, slash);
}

// The work folder: the given one (not empty), else a fresh temporary folder.
inline std::string work_folder(int argc, char** argv, int position) {
    if (argc > position && argv[position][0] != '\0')
        return argv[position];
    char pattern[] = "/tmp/helixo-bench.XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}

// folder/bench.sam of RECORDS reads and folder/bench.bam with its BAI, made unless the BAM file
// and its index are there already.
inline void make_sample(const std::string& folder, long records) {
    const std::string sam = folder + "/bench.sam", bam = folder + "/bench.bam";
    struct stat st {};
    if (::stat(bam.c_str(), &st) != 0 || ::stat((bam + ".bai").c_str(), &st) != 0) {
        write_sam(sam, records);
        sam_to_bam(sam, bam);
    }
}

// One plug-in call with text inputs, then numbers, then (when asked) an empty uint32 selection;
// a failed call ends the benchmark with its error.
inline void call_or_die(const hxhost::Plugin& plugin, int out_count,
                        const std::vector<std::string>& args,
                        const std::vector<double>& numbers = {}, bool empty_selection = false) {
    std::vector<hxhost::ArrayPtr> owned;
    std::vector<const haArray*> in;
    for (const std::string& a : args) {
        owned.push_back(hxhost::make_text(a));
        in.push_back(owned.back().get());
    }
    for (double v : numbers) {
        owned.push_back(hxhost::make_double(v));
        in.push_back(owned.back().get());
    }
    if (empty_selection) {
        owned.push_back(hxhost::make_array(haUINT32_CLASS, {0, 0}));
        in.push_back(owned.back().get());
    }
    hxhost::CallResult r = plugin.call(out_count, in);
    if (!r.ok)
        throw std::runtime_error(r.identifier + ": " + r.message);
}

} // namespace benchkit
