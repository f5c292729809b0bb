// traitmark against `cut -f2` over one seeded, coordinate-sorted SAM file whose read pairs
// lie far apart: "Flag" and "MateIndex" over every line, the offsets being the line starts
// (what a flatmark "table" index of the file holds). Prints one line per result:
//   bench=traitmark feature=F entries=N seconds=S cut_seconds=C ratio=S/C
// Usage: bench_traitmark [LINES (default 4000000)] [FOLDER (default /tmp)]
#include "hxhost.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

struct Read {
    std::uint32_t position;
    std::uint32_t pair;
    std::uint32_t mate_position;
    bool second;
};

// Writes the file and returns the start offset of every alignment line.
std::vector<std::uint32_t> write_sam(const std::string& path, std::uint32_t lines) {
    std::mt19937 rng(4242);
    std::vector<Read> reads;
    reads.reserve(lines);
    for (std::uint32_t pair = 0; reads.size() < lines; ++pair) {
        const std::uint32_t first = 1 + rng() % 200000000u;
        const std::uint32_t second = first + rng() % 2000000u; // mates far apart
        reads.push_back({first, pair, second, false});
        if (reads.size() < lines)
            reads.push_back({second, pair, first, true});
    }
    std::sort(reads.begin(), reads.end(),
              [](const Read& a, const Read& b) { return a.position < b.position; });
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        std::exit(2);
    std::vector<std::uint32_t> starts;
    starts.reserve(lines);
    std::uint64_t at = 0;
    char line[512];
    std::string seq(100, 'A'), qual(100, 'I');
    for (const Read& r : reads) {
        for (char& c : seq)
            c = "ACGT"[rng() % 4];
        const int n = std::snprintf(
            line, sizeof line, "SIM:%u:FC:%u\t%u\tchr1\t%u\t60\t100M\t=\t%u\t0\t%s\t%s\tNM:i:0\n",
            r.pair, r.pair % 97, r.second ? 147u : 99u, r.position, r.mate_position, seq.c_str(),
            qual.c_str());
        starts.push_back(static_cast<std::uint32_t>(at));
        std::fwrite(line, 1, static_cast<std::size_t>(n), out);
        at += static_cast<std::uint64_t>(n);
    }
    std::fclose(out);
    if (at > 0xFFFFFFFFu)
        std::exit(3); // keep the 32-bit offsets exact
    return starts;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double time_cut(const std::string& sam) {
    const auto start = std::chrono::steady_clock::now();
    const std::string command = "cut -f2 '" + sam + "' > /dev/null";
    if (std::system(command.c_str()) != 0)
        std::exit(4);
    return seconds_since(start);
}

double time_feature(const hxhost::Plugin& plugin, const char* feature, const std::string& sam,
                    const std::string& index, const std::vector<std::uint32_t>& starts) {
    std::FILE* empty = std::fopen(index.c_str(), "wb");
    std::fclose(empty);
    std::vector<hxhost::ArrayPtr> in;
    in.push_back(hxhost::make_text("sam"));
    in.push_back(hxhost::make_text(feature));
    in.push_back(hxhost::make_text("uint32"));
    in.push_back(hxhost::make_text(sam));
    in.push_back(hxhost::make_text(index));
    in.push_back(hxhost::make_double(0));
    in.push_back(hxhost::make_numeric<std::uint32_t>(haUINT32_CLASS,
                                                     {static_cast<std::uint32_t>(starts.size())}));
    in.push_back(hxhost::make_double(0));
    in.push_back(hxhost::make_numeric(haUINT32_CLASS, starts));
    std::vector<const haArray*> raw;
    for (const auto& a : in)
        raw.push_back(a.get());
    const auto start = std::chrono::steady_clock::now();
    const hxhost::CallResult r = plugin.call(0, raw);
    const double took = seconds_since(start);
    if (!r.ok) {
        std::fprintf(stderr, "%s: %s\n", r.identifier.c_str(), r.message.c_str());
        std::exit(5);
    }
    return took;
}

} // namespace

int main(int argc, char** argv) {
    const std::uint32_t lines =
        argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 4000000u;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    const std::string sam = folder + "/bench_traitmark.sam";
    const std::string index = folder + "/bench_traitmark.idx";
    const std::vector<std::uint32_t> starts = write_sam(sam, lines);
    const hxhost::Plugin plugin(std::string(HELIXO_BIN_DIR) + "/traitmark.so");

    time_cut(sam); // the file in the page cache for both sides
    for (const char* feature : {"Flag", "MateIndex"}) {
        double best = 1e30, best_cut = 1e30;
        for (int round = 0; round < 3; ++round) {
            best_cut = std::min(best_cut, time_cut(sam));
            best = std::min(best, time_feature(plugin, feature, sam, index, starts));
        }
        std::printf("bench=traitmark feature=%s entries=%u seconds=%.3f cut_seconds=%.3f "
                    "ratio=%.2f\n",
                    feature, lines, best, best_cut, best / best_cut);
    }
    std::remove(sam.c_str());
    std::remove(index.c_str());
    return 0;
}
