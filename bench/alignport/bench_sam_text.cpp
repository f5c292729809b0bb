// SAM text side by side with samtools: writesambyregion of a reference holding a quarter of the
// records against `samtools view -o` of the same region, bam2bam BAM to SAM against
// `samtools view -o` of the whole file, and the plug-in's formatter alone against bam_format1
// alone on records held in memory.
//   bench_sam_text [RECORDS] [WORK_DIR] [ROUNDS]   (defaults: 4000000, a fresh folder, 5)
// The two sides of a pair run alternately, ROUNDS times each; each line gives the medians of
// processor time (user and system, children included) and of wall time, and their ratios.
#include "bench_kit.h"
#include "sam_format.h"

#include <samtools/bam.h>
#include <samtools/sam.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace benchkit;

struct Pair {
    Timing service;
    Timing peer;
};

// Medians over rounds of the two sides run alternately (the peer first in odd rounds), so that
// the page cache and the neighbour's load treat them alike.
Pair side_by_side(int rounds, const std::function<void()>& service,
                  const std::function<void()>& peer) {
    std::vector<double> sc, sw, pc, pw;
    for (int k = 0; k < rounds; ++k) {
        Timing s{}, p{};
        if (k % 2 == 0) {
            s = timed(service);
            p = timed(peer);
        } else {
            p = timed(peer);
            s = timed(service);
        }
        sc.push_back(s.cpu);
        sw.push_back(s.wall);
        pc.push_back(p.cpu);
        pw.push_back(p.wall);
    }
    return {{median(sc), median(sw)}, {median(pc), median(pw)}};
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

bool same_bytes(const std::string& a, const std::string& b) {
    return std::system(("cmp -s '" + a + "' '" + b + "'").c_str()) == 0;
}

void report(const char* name, long records, const Pair& t, const char* peer, bool identical) {
    std::printf("bench=%s records=%ld cpu_seconds=%.3f wall_seconds=%.3f peer=%s "
                "peer_cpu_seconds=%.3f peer_wall_seconds=%.3f cpu_ratio=%.3f wall_ratio=%.3f "
                "identical_output=%d\n",
                name, records, t.service.cpu, t.service.wall, peer, t.peer.cpu, t.peer.wall,
                t.service.cpu / t.peer.cpu, t.service.wall / t.peer.wall, identical ? 1 : 0);
    std::fflush(stdout);
}

struct RecordFree {
    void operator()(bam1_t* b) const { bam_destroy1(b); }
};

// The formatter and bam_format1 on the same records held in memory, alternately; records per
// second of processor time (medians), and whether every text matched.
void formatter_alone(const std::string& bam, long limit, int rounds) {
    samfile_t* in = samopen(bam.c_str(), "rb", nullptr);
    if (in == nullptr)
        throw std::runtime_error("cannot open " + bam);
    std::vector<std::unique_ptr<bam1_t, RecordFree>> records;
    for (;;) {
        std::unique_ptr<bam1_t, RecordFree> b(bam_init1());
        if (static_cast<long>(records.size()) >= limit || samread(in, b.get()) < 0)
            break;
        records.push_back(std::move(b));
    }
    std::vector<char> out;
    std::size_t sink = 0;
    bool identical = true;
    for (const auto& b : records) {
        const std::size_t n = alignport::format_sam_record(in->header, b.get(), out);
        char* s = bam_format1(in->header, b.get());
        identical = identical && std::strlen(s) == n && std::memcmp(s, out.data(), n) == 0;
        std::free(s);
    }
    const Pair t = side_by_side(
        rounds,
        [&] {
            for (const auto& b : records)
                sink += alignport::format_sam_record(in->header, b.get(), out);
        },
        [&] {
            for (const auto& b : records) {
                char* s = bam_format1(in->header, b.get());
                sink += std::strlen(s);
                std::free(s);
            }
        });
    const double n = static_cast<double>(records.size());
    std::printf("bench=format_sam_record records=%zu records_per_second=%.0f peer=bam_format1 "
                "peer_records_per_second=%.0f speedup=%.2f identical_output=%d sink=%zu\n",
                records.size(), n / t.service.cpu, n / t.peer.cpu, t.peer.cpu / t.service.cpu,
                identical ? 1 : 0, sink % 10);
    std::fflush(stdout);
    samclose(in);
}

} // namespace

int main(int argc, char** argv) {
    try {
        const long records = argc > 1 ? std::atol(argv[1]) : 4000000;
        const std::string dir = work_folder(argc, argv, 2);
        const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
        const std::string sam = dir + "/bench.sam", bam = dir + "/bench.bam";
        make_sample(dir, records);
        hxhost::Plugin alignport(folder_of(argv[0]) + "/alignport.so");
        const std::string mine = dir + "/service.sam", theirs = dir + "/samtools.sam";

        // chr2 holds a quarter of the placed records.
        const Pair region = side_by_side(
            rounds,
            [&] {
                std::remove(mine.c_str());
                call_or_die(alignport, 0, {"writesambyregion", bam, bam + ".bai", mine, "chr2"},
                            {1, 0});
            },
            [&] { run("samtools view -o '" + theirs + "' '" + bam + "' chr2"); });
        report("writesambyregion", records, region, "samtools_view_region",
               same_bytes(mine, theirs));

        const Pair whole = side_by_side(
            rounds,
            [&] {
                call_or_die(alignport, 0, {"bam2bam", bam, "bam", mine, "sam"}, {}, true);
            },
            [&] { run("samtools view -o '" + theirs + "' '" + bam + "'"); });
        report("bam2bam_to_sam", records, whole, "samtools_view", same_bytes(mine, theirs));

        formatter_alone(bam, std::min(records, 1000000L), rounds);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_sam_text: %s\n", e.what());
        return 1;
    }
}
