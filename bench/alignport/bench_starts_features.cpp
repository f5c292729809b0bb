// getstartsinref against a bare two-pass library loop, and getfeaturesinrefbyindex of 1,000
// consecutive alignments near the end of the same reference against getstartsinref.
//
//   bench_starts_features [READS] [FOLDER]
//
// Makes a seeded coordinate-sorted BAM of READS alignments (default 1,200,000) on one reference
// in FOLDER (default: a new folder under TMPDIR, removed afterwards), indexes it, then times each
// contender five times, alternating, and prints the best time of each with the ratios.
#include "hxhost.h"

#include <samtools/bam.h>
#include <samtools/sam.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kReadLength = 100;
constexpr int kReferenceLength = 200000000;
constexpr int kWhole = 1 << 29;

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// One reference, READS reads of 100 bases (some soft-clipped), sorted, qualities present.
void write_bam(const std::string& path, long reads) {
    bam_header_t* h = bam_header_init();
    h->n_targets = 1;
    h->target_name = static_cast<char**>(std::calloc(1, sizeof(char*)));
    h->target_name[0] = strdup("chr1");
    h->target_len = static_cast<std::uint32_t*>(std::calloc(1, sizeof(std::uint32_t)));
    h->target_len[0] = kReferenceLength;
    const std::string text =
        "@HD\tVN:1.0\tSO:coordinate\n@SQ\tSN:chr1\tLN:" + std::to_string(kReferenceLength) + "\n";
    h->text = strdup(text.c_str());
    h->l_text = static_cast<std::uint32_t>(text.size());
    bamFile out = bam_open(path.c_str(), "w");
    bam_header_write(out, h);

    std::mt19937_64 rng(20240601);
    const double step =
        static_cast<double>(kReferenceLength - 2 * kReadLength) / static_cast<double>(reads);
    std::vector<std::uint8_t> data;
    bam1_core_t c{};
    for (long k = 0; k < reads; ++k) {
        char name[32];
        const int name_length = std::snprintf(name, sizeof name, "read%ld", k) + 1;
        const std::uint32_t clip = static_cast<std::uint32_t>(rng() % 3);
        std::uint32_t cigar[2];
        int n_cigar = 0;
        if (clip != 0)
            cigar[n_cigar++] = clip << 4 | 4u;
        cigar[n_cigar++] = static_cast<std::uint32_t>(kReadLength - clip) << 4 | 0u;
        data.assign(name, name + name_length);
        data.insert(data.end(), reinterpret_cast<std::uint8_t*>(cigar),
                    reinterpret_cast<std::uint8_t*>(cigar) + 4 * n_cigar);
        for (int i = 0; i < kReadLength / 2; ++i) {
            const std::uint64_t r = rng();
            data.push_back(
                static_cast<std::uint8_t>((1u << (r & 3)) << 4 | (1u << ((r >> 2) & 3))));
        }
        for (int i = 0; i < kReadLength; ++i)
            data.push_back(static_cast<std::uint8_t>(2 + rng() % 39));
        c.tid = 0;
        c.pos = static_cast<std::int32_t>(static_cast<double>(k) * step) +
                static_cast<std::int32_t>(rng() % 3);
        c.qual = static_cast<std::uint8_t>(rng() % 61);
        c.l_qname = static_cast<std::uint8_t>(name_length);
        c.flag = static_cast<std::uint16_t>((rng() & 1) ? 16 : 0);
        c.n_cigar = static_cast<std::uint16_t>(n_cigar);
        c.l_qseq = kReadLength;
        c.mtid = -1;
        c.mpos = -1;
        c.isize = 0;
        c.bin = static_cast<std::uint16_t>(
            bam_reg2bin(c.pos, c.pos + kReadLength - static_cast<int>(clip)));
        bam_write1_core(out, &c, static_cast<int>(data.size()), data.data());
    }
    bam_close(out);
    bam_header_destroy(h);
    bam_index_build(path.c_str());
}

struct Columns {
    std::vector<std::uint32_t> start, end;
    std::vector<std::uint16_t> flag;
    std::size_t n = 0;
};

int count_one(const bam1_t*, void* data) {
    ++*static_cast<std::size_t*>(data);
    return 0;
}

int store_three(const bam1_t* b, void* data) {
    auto& c = *static_cast<Columns*>(data);
    std::uint32_t span = 0;
    for (std::uint32_t k = 0; k < b->core.n_cigar; ++k) {
        std::uint32_t word;
        std::memcpy(&word, b->data + b->core.l_qname + 4 * k, sizeof word);
        if ((word & 15u) == 0 || (word & 15u) == 2 || (word & 15u) == 3)
            span += word >> 4;
    }
    const auto pos = static_cast<std::uint32_t>(b->core.pos);
    c.start[c.n] = pos + 1;
    c.end[c.n] = b->core.n_cigar == 0 ? pos + 1 : pos + span;
    c.flag[c.n] = static_cast<std::uint16_t>(b->core.flag);
    ++c.n;
    return 0;
}

// The floor: open, load the index, count, size three columns, fill them; the library's own fetch.
std::size_t bare_two_passes(const std::string& bam) {
    samfile_t* f = samopen(bam.c_str(), "rb", nullptr);
    bam_index_t* idx = bam_index_load(bam.c_str());
    std::size_t n = 0;
    bam_fetch(f->x.bam, idx, 0, 0, kWhole, &n, count_one);
    Columns c;
    c.start.assign(n, 0);
    c.end.assign(n, 0);
    c.flag.assign(n, 0);
    bam_fetch(f->x.bam, idx, 0, 0, kWhole, &c, store_three);
    bam_index_destroy(idx);
    samclose(f);
    return c.n;
}

hxhost::CallResult call(const hxhost::Plugin& p, int nout,
                        const std::vector<hxhost::ArrayPtr>& in) {
    std::vector<const haArray*> raw;
    for (const auto& a : in)
        raw.push_back(a.get());
    return p.call(nout, raw);
}

std::string self_folder() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    buf[n] = 0;
    return std::filesystem::path(buf).parent_path().string();
}

} // namespace

int main(int argc, char** argv) {
    const long reads = argc > 1 ? std::atol(argv[1]) : 1200000;
    std::string folder;
    bool remove_folder = false;
    if (argc > 2) {
        folder = argv[2];
    } else {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/helixo-bench.XXXXXX";
        if (::mkdtemp(&pattern[0]) == nullptr)
            return 1;
        folder = pattern;
        remove_folder = true;
    }
    const std::string bam = folder + "/starts.bam";
    struct stat st {};
    if (::stat((bam + ".bai").c_str(), &st) != 0) {
        const auto t0 = std::chrono::steady_clock::now();
        write_bam(bam, reads);
        std::printf("bench=generate reads=%ld seconds=%.3f\n", reads, seconds_since(t0));
    }

    hxhost::Plugin alignport(self_folder() + "/alignport.so");
    std::vector<hxhost::ArrayPtr> starts_in;
    starts_in.push_back(hxhost::make_text("getstartsinref"));
    starts_in.push_back(hxhost::make_text(bam));
    starts_in.push_back(hxhost::make_text(bam + ".bai"));
    starts_in.push_back(hxhost::make_double(0));

    double bare = 1e30, plugin = 1e30, feats = 1e30;
    std::size_t n = 0;
    std::vector<std::int32_t> starts;
    for (int round = 0; round < 5; ++round) {
        auto t0 = std::chrono::steady_clock::now();
        n = bare_two_passes(bam);
        bare = std::min(bare, seconds_since(t0));

        t0 = std::chrono::steady_clock::now();
        hxhost::CallResult r = call(alignport, 3, starts_in);
        plugin = std::min(plugin, seconds_since(t0));
        if (!r.ok) {
            std::fprintf(stderr, "%s: %s\n", r.identifier.c_str(), r.message.c_str());
            return 1;
        }
        if (starts.empty()) {
            for (std::uint32_t s : hxhost::values_of<std::uint32_t>(r.outputs[0].get()))
                starts.push_back(static_cast<std::int32_t>(s) - 1);
        }
    }
    if (starts.size() != n || n < 2000) {
        std::fprintf(stderr, "alignment counts differ: %zu and %zu\n", starts.size(), n);
        return 1;
    }

    std::vector<std::uint32_t> wanted;
    for (std::uint32_t k = static_cast<std::uint32_t>(n) - 1500; wanted.size() < 1000; ++k)
        wanted.push_back(k);
    std::vector<hxhost::ArrayPtr> names;
    for (const char* f :
         {"Flag", "Position", "MappingQuality", "MatePosition", "MateIndex", "QueryLength",
          "EndPosition", "Signature", "Sequence", "Header", "Quality"})
        names.push_back(hxhost::make_text(f));
    std::vector<hxhost::ArrayPtr> features_in;
    features_in.push_back(hxhost::make_text("getfeaturesinrefbyindex"));
    features_in.push_back(hxhost::make_text(bam));
    features_in.push_back(hxhost::make_text(bam + ".bai"));
    features_in.push_back(hxhost::make_cell(std::move(names)));
    features_in.push_back(hxhost::make_double(0));
    features_in.push_back(hxhost::make_numeric(haUINT32_CLASS, wanted));
    features_in.push_back(hxhost::make_numeric(haINT32_CLASS, starts));
    for (int round = 0; round < 5; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        hxhost::CallResult r = call(alignport, 11, features_in);
        feats = std::min(feats, seconds_since(t0));
        if (!r.ok) {
            std::fprintf(stderr, "%s: %s\n", r.identifier.c_str(), r.message.c_str());
            return 1;
        }
    }

    std::printf("bench=getstartsinref alignments=%zu bare_two_pass_s=%.4f plugin_s=%.4f ratio=%.3f "
                "limit=1.10\n",
                n, bare, plugin, plugin / bare);
    std::printf("bench=getfeaturesinrefbyindex features=11 wanted=1000 plugin_s=%.5f "
                "getstartsinref_s=%.4f ratio=%.4f limit=0.05\n",
                feats, plugin, feats / plugin);
    if (remove_folder)
        std::filesystem::remove_all(folder);
    return 0;
}
