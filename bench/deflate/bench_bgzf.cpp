// BGZF blocks through the BAM library with zlib and with libdeflate (deflate_shim.cpp), side by
// side in one process: writing a seeded BAM, then reading its blocks and its records back.
//
//   bench_bgzf [--mib N] [--repeat R] [--dir DIR] [--keep]
//
// N MiB of uncompressed BAM content (default 1024), each read checked once per decoder, then
// timed R times per decoder (default 3, alternating, best and median kept). Prints one line per
// result:
//   bench=bgzf op=OP coder=zlib|libdeflate content_bytes=B file_bytes=F seconds=WALL
//   cpu_seconds=CPU mib_per_s=M
// (M from the CPU time: everything here runs on one thread, and on a shared machine the process's
// CPU time is the steadier measure) and one ratio line per operation:
//   bench=bgzf op=OP ratio_zlib_over_libdeflate=X wall_ratio=Y.
#include "deflate_shim.h"

#include <samtools/bam.h>
#include <samtools/bgzf.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kReferences = 24;
constexpr int kReadLength = 101;

struct Options {
    double mib = 1024;
    int repeat = 3;
    std::string dir;
    bool keep = false;
};

struct Seconds {
    double wall = 0;
    double cpu = 0; // the process's processor time
};

Seconds operator-(Seconds a, Seconds b) {
    return {a.wall - b.wall, a.cpu - b.cpu};
}

Seconds now() {
    return {
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(),
        static_cast<double>(std::clock()) / CLOCKS_PER_SEC};
}

// Seeded alignments over random reference sequences: sorted starts at about 5x coverage, read
// bases copied from the reference with a few changes, qualities that drift as a sequencer's do.
class RecordMaker {
public:
    explicit RecordMaker(std::uint64_t content_bytes) : rng_(20261208) {
        const std::uint64_t records = content_bytes / 230 + 1;
        ref_length_ = static_cast<std::uint32_t>(
            std::max<std::uint64_t>(100000, records * kReadLength / 5 / kReferences));
        static const char kBases[] = "ACGT";
        genome_.resize(ref_length_ + kReadLength);
        for (char& c : genome_)
            c = kBases[rng_() % 4];
        mean_gap_ = static_cast<double>(ref_length_) * kReferences / static_cast<double>(records);
        record_ = bam_init1();
    }
    ~RecordMaker() { bam_destroy1(record_); }
    RecordMaker(const RecordMaker&) = delete;
    RecordMaker& operator=(const RecordMaker&) = delete;

    std::uint32_t ref_length() const { return ref_length_; }

    // The next record in coordinate order, or null after the last reference.
    const bam1_t* next() {
        std::exponential_distribution<double> gap(1.0 / mean_gap_);
        position_ += gap(rng_);
        while (position_ >= ref_length_) {
            position_ -= ref_length_;
            if (++tid_ == kReferences)
                return nullptr;
        }
        fill(static_cast<std::int32_t>(position_));
        ++serial_;
        return record_;
    }

private:
    void fill(std::int32_t pos) {
        char qname[32];
        const int name_length =
            std::snprintf(qname, sizeof qname, "run7:%u:%u", serial_ / 4096, serial_ % 4096) + 1;
        const bool clipped = rng_() % 8 == 0;
        const std::uint32_t cigar[2] = {2u << 4 | 4u /* 2S */, (kReadLength - 2u) << 4 /* 99M */};
        const std::uint32_t full_match = static_cast<std::uint32_t>(kReadLength) << 4;
        const int n_cigar = clipped ? 2 : 1;
        unsigned char aux[16];
        const unsigned mismatches = rng_() % 4;
        std::memcpy(aux, "NMC", 3);
        aux[3] = static_cast<unsigned char>(mismatches);
        std::memcpy(aux + 4, "RGZgrp1", 8); // with its terminating zero
        const int aux_length = 12;
        const int data_length =
            name_length + 4 * n_cigar + (kReadLength + 1) / 2 + kReadLength + aux_length;
        if (record_->m_data < data_length) {
            record_->m_data = data_length;
            record_->data = static_cast<uint8_t*>(
                std::realloc(record_->data, static_cast<std::size_t>(data_length)));
        }
        std::uint8_t* p = record_->data;
        std::memcpy(p, qname, static_cast<std::size_t>(name_length));
        p += name_length;
        if (clipped)
            std::memcpy(p, cigar, sizeof cigar);
        else
            std::memcpy(p, &full_match, 4);
        p += 4 * n_cigar;
        const char* bases = genome_.data() + pos;
        std::memset(p, 0, (kReadLength + 1) / 2);
        for (int k = 0; k < kReadLength; ++k) {
            char base = bases[k];
            if (rng_() % 100 == 0)
                base = "ACGT"[rng_() % 4];
            p[k / 2] |= static_cast<std::uint8_t>(bam_nt16_table[static_cast<unsigned char>(base)]
                                                  << (k % 2 ? 0 : 4));
        }
        p += (kReadLength + 1) / 2;
        int q = 30 + static_cast<int>(rng_() % 10);
        for (int k = 0; k < kReadLength; ++k) {
            q = std::clamp(q + static_cast<int>(rng_() % 5) - 2 - (k > 80 ? 1 : 0), 2, 41);
            p[k] = static_cast<std::uint8_t>(q);
        }
        p += kReadLength;
        std::memcpy(p, aux, static_cast<std::size_t>(aux_length));

        bam1_core_t& c = record_->core;
        c.tid = tid_;
        c.pos = pos;
        c.bin = static_cast<std::uint32_t>(bam_reg2bin(
            static_cast<std::uint32_t>(pos), static_cast<std::uint32_t>(pos + kReadLength)));
        c.qual = static_cast<std::uint32_t>(rng_() % 61);
        c.l_qname = static_cast<std::uint32_t>(name_length);
        c.flag = static_cast<std::uint32_t>(rng_() % 2 ? BAM_FREVERSE : 0);
        c.n_cigar = static_cast<std::uint32_t>(n_cigar);
        c.l_qseq = kReadLength;
        c.mtid = -1;
        c.mpos = -1;
        c.isize = 0;
        record_->data_len = data_length;
        record_->l_aux = aux_length;
    }

    std::mt19937_64 rng_;
    std::uint32_t ref_length_ = 0;
    std::string genome_;
    double mean_gap_ = 1;
    double position_ = 0;
    std::int32_t tid_ = 0;
    std::uint32_t serial_ = 0;
    bam1_t* record_ = nullptr;
};

bam_header_t* make_header(std::uint32_t reference_length) {
    bam_header_t* h = bam_header_init();
    h->n_targets = kReferences;
    h->target_name = static_cast<char**>(std::calloc(kReferences, sizeof(char*)));
    h->target_len = static_cast<std::uint32_t*>(std::calloc(kReferences, sizeof(std::uint32_t)));
    std::string text = "@HD\tVN:1.0\tSO:coordinate\n";
    for (int r = 0; r < kReferences; ++r) {
        const std::string name = "chr" + std::to_string(r + 1);
        h->target_name[r] = strdup(name.c_str());
        h->target_len[r] = reference_length + kReadLength;
        text += "@SQ\tSN:" + name + "\tLN:" + std::to_string(h->target_len[r]) + "\n";
    }
    text += "@RG\tID:grp1\tSM:sample1\n";
    h->l_text = static_cast<std::uint32_t>(text.size());
    h->text = strdup(text.c_str());
    return h;
}

struct Written {
    std::uint64_t records = 0;
    std::uint64_t content_bytes = 0; // uncompressed BAM stream: header and records
    Seconds seconds;
};

// Writes the seeded BAM with the coder chosen by the shim switch; a null path only generates.
Written write_bam(const char* path, double mib) {
    const auto target = static_cast<std::uint64_t>(mib * 1024 * 1024);
    RecordMaker maker(target);
    Written w;
    const Seconds start = now();
    BGZF* fp = path != nullptr ? bgzf_open(path, "w") : nullptr;
    if (path != nullptr && fp == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", path);
        std::exit(1);
    }
    bam_header_t* header = make_header(maker.ref_length());
    if (fp != nullptr)
        bam_header_write(fp, header);
    w.content_bytes = 12 + header->l_text + 8u * kReferences;
    for (int r = 0; r < kReferences; ++r)
        w.content_bytes += std::strlen(header->target_name[r]) + 1;
    bam_header_destroy(header);
    while (w.content_bytes < target) {
        const bam1_t* b = maker.next();
        if (b == nullptr)
            break;
        if (fp != nullptr && bam_write1(fp, b) < 0) {
            std::fprintf(stderr, "write error on %s\n", path);
            std::exit(1);
        }
        w.content_bytes += 4u + static_cast<std::uint64_t>(b->data_len) + 32u;
        ++w.records;
    }
    if (fp != nullptr && bgzf_close(fp) != 0) {
        std::fprintf(stderr, "cannot close %s\n", path);
        std::exit(1);
    }
    w.seconds = now() - start;
    return w;
}

struct Read {
    std::uint64_t bytes = 0;
    std::uint32_t crc = 0; // of the decompressed stream (blocks) or of the record data (records)
    Seconds seconds;
};

// The whole file through bgzf_read in 1 MiB pieces: BGZF block decompression and little else
// (the checksum only when asked for, so that timed runs measure the blocks alone).
Read read_blocks(const char* path, bool checksum) {
    Read r;
    std::vector<unsigned char> buffer(1 << 20);
    const Seconds start = now();
    BGZF* fp = bgzf_open(path, "r");
    ssize_t n;
    uLong crc = crc32(0, nullptr, 0);
    while ((n = bgzf_read(fp, buffer.data(), static_cast<ssize_t>(buffer.size()))) > 0) {
        if (checksum)
            crc = crc32(crc, buffer.data(), static_cast<uInt>(n));
        r.bytes += static_cast<std::uint64_t>(n);
    }
    bgzf_close(fp);
    r.seconds = now() - start;
    r.crc = static_cast<std::uint32_t>(crc);
    if (n < 0) {
        std::fprintf(stderr, "read error in %s\n", path);
        std::exit(1);
    }
    return r;
}

// The whole file record by record through bam_read1, as a whole-file scan does; the cheap
// fingerprint of the records is always taken.
Read read_records(const char* path, bool) {
    Read r;
    const Seconds start = now();
    BGZF* fp = bgzf_open(path, "r");
    bam_header_t* header = bam_header_read(fp);
    bam1_t* b = bam_init1();
    int result;
    std::uint32_t sum = 0;
    while ((result = bam_read1(fp, b)) >= 0) {
        sum = sum * 31u + static_cast<std::uint32_t>(b->core.pos) + b->data[b->data_len - 1];
        r.bytes += static_cast<std::uint64_t>(result);
    }
    bam_destroy1(b);
    bam_header_destroy(header);
    bgzf_close(fp);
    r.seconds = now() - start;
    r.crc = sum;
    if (result < -1) {
        std::fprintf(stderr, "read error in %s\n", path);
        std::exit(1);
    }
    return r;
}

long file_size(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr)
        return -1;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return size;
}

void print(const char* op, const char* coder, std::uint64_t content, long file_bytes,
           Seconds seconds, const char* extra = "") {
    std::printf("bench=bgzf op=%s coder=%s content_bytes=%llu file_bytes=%ld seconds=%.3f "
                "cpu_seconds=%.3f mib_per_s=%.1f%s\n",
                op, coder, static_cast<unsigned long long>(content), file_bytes, seconds.wall,
                seconds.cpu, static_cast<double>(content) / 1048576.0 / seconds.cpu, extra);
    std::fflush(stdout);
}

void print_ratio(const char* op, Seconds zlib, Seconds fast) {
    std::printf("bench=bgzf op=%s ratio_zlib_over_libdeflate=%.2f wall_ratio=%.2f\n", op,
                zlib.cpu / fast.cpu, zlib.wall / fast.wall);
    std::fflush(stdout);
}

double median_cpu(std::vector<Seconds> v) {
    std::sort(v.begin(), v.end(), [](Seconds a, Seconds b) { return a.cpu < b.cpu; });
    return v[v.size() / 2].cpu;
}

// The fastest run by CPU time, with the shortest wall time among all runs.
Seconds best(const std::vector<Seconds>& v) {
    Seconds b = v.front();
    for (const Seconds& s : v) {
        b.cpu = std::min(b.cpu, s.cpu);
        b.wall = std::min(b.wall, s.wall);
    }
    return b;
}

// Checks in one untimed pass per coder that both see the same content, then times the read R
// times per coder, alternating.
template <class ReadFn>
void compare_reads(const char* op, const char* path, int repeat, ReadFn read) {
    alignport::set_deflate_shim_enabled(false);
    const Read zlib_checked = read(path, true);
    alignport::set_deflate_shim_enabled(true);
    const Read fast_checked = read(path, true);
    if (zlib_checked.bytes != fast_checked.bytes || zlib_checked.crc != fast_checked.crc) {
        std::fprintf(stderr, "%s: the coders disagree\n", op);
        std::exit(1);
    }
    std::vector<Seconds> zlib_times, fast_times;
    Read zlib, fast;
    for (int k = 0; k < repeat; ++k) {
        alignport::set_deflate_shim_enabled(false);
        zlib = read(path, false);
        zlib_times.push_back(zlib.seconds);
        alignport::set_deflate_shim_enabled(true);
        fast = read(path, false);
        fast_times.push_back(fast.seconds);
    }
    const long size = file_size(path);
    const std::string extra_zlib = " median_cpu_seconds=" + std::to_string(median_cpu(zlib_times));
    const std::string extra_fast = " median_cpu_seconds=" + std::to_string(median_cpu(fast_times));
    print(op, "zlib", zlib.bytes, size, best(zlib_times), extra_zlib.c_str());
    print(op, "libdeflate", fast.bytes, size, best(fast_times), extra_fast.c_str());
    print_ratio(op, best(zlib_times), best(fast_times));
}

Options parse(int argc, char** argv) {
    Options o;
    const char* tmp = std::getenv("TMPDIR");
    o.dir = tmp != nullptr ? tmp : "/tmp";
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        if (a == "--mib" && k + 1 < argc)
            o.mib = std::atof(argv[++k]);
        else if (a == "--repeat" && k + 1 < argc)
            o.repeat = std::max(1, std::atoi(argv[++k]));
        else if (a == "--dir" && k + 1 < argc)
            o.dir = argv[++k];
        else if (a == "--keep")
            o.keep = true;
        else {
            std::fprintf(stderr, "usage: bench_bgzf [--mib N] [--repeat R] [--dir DIR] [--keep]\n");
            std::exit(2);
        }
    }
    return o;
}

} // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    const std::string fast_path = o.dir + "/bench_bgzf_libdeflate.bam";
    const std::string zlib_path = o.dir + "/bench_bgzf_zlib.bam";

    // Writing: the same records through each coder, less the time to make them.
    const Written made = write_bam(nullptr, o.mib);
    print("generate", "none", made.content_bytes, 0, made.seconds);
    alignport::set_deflate_shim_enabled(false);
    const Written zlib_written = write_bam(zlib_path.c_str(), o.mib);
    alignport::set_deflate_shim_enabled(true);
    const Written fast_written = write_bam(fast_path.c_str(), o.mib);
    const Seconds zlib_net = zlib_written.seconds - made.seconds;
    const Seconds fast_net = fast_written.seconds - made.seconds;
    const std::string records = " records=" + std::to_string(made.records);
    print("write_bam", "zlib", zlib_written.content_bytes, file_size(zlib_path.c_str()), zlib_net,
          records.c_str());
    print("write_bam", "libdeflate", fast_written.content_bytes, file_size(fast_path.c_str()),
          fast_net, records.c_str());
    print_ratio("write_bam", zlib_net, fast_net);

    // Reading the libdeflate-written file, then the zlib-written one, with each decoder.
    compare_reads("read_blocks", fast_path.c_str(), o.repeat, read_blocks);
    compare_reads("read_records", fast_path.c_str(), o.repeat, read_records);
    compare_reads("read_blocks_zlib_file", zlib_path.c_str(), 1, read_blocks);
    if (read_blocks(zlib_path.c_str(), true).crc != read_blocks(fast_path.c_str(), true).crc) {
        std::fprintf(stderr, "the two files hold different content\n");
        return 1;
    }
    std::printf("bench=bgzf check=same_content_from_both_files ok=1\n");

    if (!o.keep) {
        std::remove(fast_path.c_str());
        std::remove(zlib_path.c_str());
    }
    return 0;
}
