// flatmark against `wc -l` on the same seeded files, side by side in one run, keys on: a FASTA
// of 300 MB, a FASTQ of 4 million records and a table of 5 million lines. Each side is timed
// three times over the file in the page cache and the best time kept, as wall-clock time and
// as processor time (user + system, which a machine shared with other work disturbs less).
// One line per result:
//   bench=flatmark type=T bytes=B entries=N seconds=S wc_seconds=W ratio=S/W
//         cpu_seconds=C wc_cpu_seconds=D cpu_ratio=C/D
// and last the process's peak resident memory: bench=flatmark peak_rss_mb=M
// Usage: bench_flatmark [FOLDER (default /tmp)] [SCALE (default 1.0, multiplies every size)]
#include "hxhost.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A small, fast generator: the sizes here make a per-character std::mt19937 call too slow.
struct XorShift {
    std::uint64_t state;
    std::uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

void fill_bases(XorShift& rng, std::string& out, std::size_t count) {
    out.clear();
    while (out.size() < count) {
        std::uint64_t bits = rng.next();
        for (int i = 0; i < 32 && out.size() < count; ++i, bits >>= 2)
            out.push_back("ACGT"[bits & 3]);
    }
}

std::FILE* create(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "cannot create %s\n", path.c_str());
        std::exit(2);
    }
    return f;
}

void write_fasta(const std::string& path, std::uint64_t bytes) {
    XorShift rng{20261208};
    std::FILE* out = create(path);
    std::string line;
    std::uint64_t written = 0;
    for (unsigned s = 0; written < bytes; ++s) {
        written += static_cast<std::uint64_t>(std::fprintf(out, ">chr%u simulated\n", s));
        for (int l = 0; l < 16667 && written < bytes; ++l) { // about 1 Mb a sequence
            fill_bases(rng, line, 60);
            line.push_back('\n');
            std::fwrite(line.data(), 1, line.size(), out);
            written += line.size();
        }
    }
    std::fclose(out);
}

void write_fastq(const std::string& path, std::uint64_t records) {
    XorShift rng{4242};
    std::FILE* out = create(path);
    std::string bases;
    const std::string quality(100, 'I');
    for (std::uint64_t r = 0; r < records; ++r) {
        fill_bases(rng, bases, 100);
        std::fprintf(out, "@SIM:1:FC:%llu:%u\n%s\n+\n%s\n", static_cast<unsigned long long>(r),
                     static_cast<unsigned>(rng.next() % 10000), bases.c_str(), quality.c_str());
    }
    std::fclose(out);
}

void write_table(const std::string& path, std::uint64_t lines) {
    XorShift rng{777};
    std::FILE* out = create(path);
    std::fprintf(out, "#name\tchrom\tposition\tscore\n");
    for (std::uint64_t l = 1; l < lines; ++l)
        std::fprintf(out, "feature%llu\tchr%u\t%u\t%.3f\n", static_cast<unsigned long long>(l),
                     static_cast<unsigned>(1 + rng.next() % 22),
                     static_cast<unsigned>(rng.next() % 250000000u),
                     static_cast<double>(rng.next() % 100000) / 1000.0);
    std::fclose(out);
}

double cpu_seconds(int who) {
    struct rusage usage {};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
    double wall;
    double cpu;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Timing time_wc(const std::string& path) {
    const double cpu = cpu_seconds(RUSAGE_CHILDREN);
    const auto start = std::chrono::steady_clock::now();
    const std::string command = "wc -l '" + path + "' > /dev/null";
    if (std::system(command.c_str()) != 0)
        std::exit(3);
    return {seconds_since(start), cpu_seconds(RUSAGE_CHILDREN) - cpu};
}

Timing time_index(const hxhost::Plugin& plugin, const char* type, const std::string& path,
                  const std::string& index, double& entries) {
    std::vector<hxhost::ArrayPtr> in;
    in.push_back(hxhost::make_text(type));
    in.push_back(hxhost::make_text(path));
    in.push_back(hxhost::make_text(index));
    in.push_back(hxhost::make_double(1)); // 64-bit offsets
    in.push_back(hxhost::make_double(1)); // consecutive
    in.push_back(hxhost::make_double(1)); // keys on
    in.push_back(hxhost::make_double(0)); // the key is the first field
    in.push_back(hxhost::make_text(""));
    in.push_back(hxhost::make_text("#"));
    in.push_back(hxhost::make_text(""));
    in.push_back(hxhost::make_text("\t"));
    in.push_back(hxhost::make_text(""));
    std::vector<const haArray*> raw;
    for (const auto& a : in)
        raw.push_back(a.get());
    const double cpu = cpu_seconds(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    const hxhost::CallResult r = plugin.call(1, raw);
    const Timing took{seconds_since(start), cpu_seconds(RUSAGE_SELF) - cpu};
    if (!r.ok) {
        std::fprintf(stderr, "%s: %s\n", r.identifier.c_str(), r.message.c_str());
        std::exit(4);
    }
    entries = *static_cast<const double*>(haGetData(r.outputs[0].get()));
    return took;
}

long file_bytes(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return -1;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return size;
}

} // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "/tmp";
    const double scale = argc > 2 ? std::atof(argv[2]) : 1.0;
    const hxhost::Plugin plugin(std::string(HELIXO_BIN_DIR) + "/flatmark.so");

    struct Input {
        const char* type;
        std::string path;
    };
    const Input inputs[] = {
        {"fasta", folder + "/bench_flatmark.fa"},
        {"fastq", folder + "/bench_flatmark.fq"},
        {"table", folder + "/bench_flatmark.tsv"},
    };
    write_fasta(inputs[0].path, static_cast<std::uint64_t>(300e6 * scale));
    write_fastq(inputs[1].path, static_cast<std::uint64_t>(4e6 * scale));
    write_table(inputs[2].path, static_cast<std::uint64_t>(5e6 * scale));
    const std::string index = folder + "/bench_flatmark.idx";

    for (const Input& input : inputs) {
        time_wc(input.path); // the file in the page cache for both sides
        Timing best{1e30, 1e30}, best_wc{1e30, 1e30};
        double entries = 0;
        for (int round = 0; round < 3; ++round) {
            const Timing wc = time_wc(input.path);
            const Timing ours = time_index(plugin, input.type, input.path, index, entries);
            best_wc = {std::min(best_wc.wall, wc.wall), std::min(best_wc.cpu, wc.cpu)};
            best = {std::min(best.wall, ours.wall), std::min(best.cpu, ours.cpu)};
        }
        std::printf("bench=flatmark type=%s bytes=%ld entries=%.0f seconds=%.3f wc_seconds=%.3f "
                    "ratio=%.2f cpu_seconds=%.3f wc_cpu_seconds=%.3f cpu_ratio=%.2f\n",
                    input.type, file_bytes(input.path), entries, best.wall, best_wc.wall,
                    best.wall / best_wc.wall, best.cpu, best_wc.cpu, best.cpu / best_wc.cpu);
        std::fflush(stdout);
        if (std::getenv("BENCH_KEEP") == nullptr)
            std::remove(input.path.c_str());
    }
    std::remove(index.c_str());
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("bench=flatmark peak_rss_mb=%.1f\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}
