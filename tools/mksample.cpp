// The project's seeded sample generator: writes DIR/sample.sam (coordinate-sorted SAM text with
// paired and unpaired reads, soft clips, insertions, deletions and a few unplaced reads), then
// DIR/sample.bam and DIR/sample.bam.bai through the BAM library. Same seed, same bytes.
//   mksample DIR [SEED] [READS_PER_REFERENCE]
#include <samtools/bam.h>
#include <samtools/sam.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Read {
    int ref;
    int pos; // 1-based
    std::string line;
};

std::string random_cigar(std::mt19937& rng, int length) {
    switch (rng() % 5) {
    case 0:
        return std::to_string(length) + "M";
    case 1:
        return "3S" + std::to_string(length - 3) + "M";
    case 2:
        return "20M2I" + std::to_string(length - 22) + "M";
    case 3:
        return "25M4D" + std::to_string(length - 25) + "M";
    default:
        return std::to_string(length - 5) + "M5S";
    }
}

std::string random_bases(std::mt19937& rng, int length) {
    static const char kBases[] = "ACGT";
    std::string s;
    for (int k = 0; k < length; ++k)
        s.push_back(kBases[rng() % 4]);
    return s;
}

std::string random_quals(std::mt19937& rng, int length) {
    std::string s;
    for (int k = 0; k < length; ++k)
        s.push_back(static_cast<char>('#' + rng() % 39));
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: mksample DIR [SEED] [READS_PER_REFERENCE]\n");
        return 2;
    }
    const std::string dir = argv[1];
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 7;
    const int per_ref = argc > 3 ? std::atoi(argv[3]) : 40;
    std::mt19937 rng(seed);
    const std::vector<std::pair<std::string, int>> refs = {
        {"chr1", 20000}, {"chr2", 15000}, {"chrM", 16569}};
    const int read_length = 60;

    std::vector<Read> reads;
    for (int r = 0; r < static_cast<int>(refs.size()); ++r) {
        std::uniform_int_distribution<int> pos(1, refs[r].second - 3 * read_length);
        for (int k = 0; k < per_ref; k += 2) {
            const int p1 = pos(rng);
            const int p2 =
                std::min(p1 + 100 + static_cast<int>(rng() % 300), refs[r].second - read_length);
            const std::string name = "read" + std::to_string(r) + "_" + std::to_string(k / 2);
            const bool reverse = rng() % 2 != 0;
            const int tlen = p2 + read_length - p1;
            const int flags1 = 1 | 2 | 64 | (reverse ? 16 : 32);
            const int flags2 = 1 | 2 | 128 | (reverse ? 32 : 16);
            std::ostringstream a, b;
            a << name << '\t' << flags1 << '\t' << refs[r].first << '\t' << p1 << '\t'
              << (rng() % 61) << '\t' << random_cigar(rng, read_length) << "\t=\t" << p2 << '\t'
              << tlen << '\t' << random_bases(rng, read_length) << '\t'
              << random_quals(rng, read_length) << "\tNM:i:" << rng() % 4 << "\tRG:Z:demo";
            b << name << '\t' << flags2 << '\t' << refs[r].first << '\t' << p2 << '\t'
              << (rng() % 61) << '\t' << random_cigar(rng, read_length) << "\t=\t" << p1 << '\t'
              << -tlen << '\t' << random_bases(rng, read_length) << '\t'
              << random_quals(rng, read_length) << "\tNM:i:" << rng() % 4 << "\tRG:Z:demo";
            reads.push_back({r, p1, a.str()});
            reads.push_back({r, p2, b.str()});
        }
    }
    std::stable_sort(reads.begin(), reads.end(), [](const Read& x, const Read& y) {
        return x.ref != y.ref ? x.ref < y.ref : x.pos < y.pos;
    });
    for (int k = 0; k < 4; ++k) {
        std::ostringstream u;
        u << "unplaced" << k << "\t4\t*\t0\t0\t*\t*\t0\t0\t" << random_bases(rng, read_length)
          << '\t' << random_quals(rng, read_length);
        reads.push_back({static_cast<int>(refs.size()), 0, u.str()});
    }

    const std::string sam_path = dir + "/sample.sam";
    {
        std::ofstream sam(sam_path, std::ios::binary);
        sam << "@HD\tVN:1.0\tSO:coordinate\n";
        for (const auto& r : refs)
            sam << "@SQ\tSN:" << r.first << "\tLN:" << r.second << '\n';
        sam << "@RG\tID:demo\tSM:sample\n";
        for (const Read& r : reads)
            sam << r.line << '\n';
        if (!sam) {
            std::fprintf(stderr, "mksample: cannot write %s\n", sam_path.c_str());
            return 1;
        }
    }

    const std::string bam_path = dir + "/sample.bam";
    samfile_t* in = samopen(sam_path.c_str(), "r", nullptr);
    if (in == nullptr || in->header == nullptr) {
        std::fprintf(stderr, "mksample: cannot read %s\n", sam_path.c_str());
        return 1;
    }
    samfile_t* out = samopen(bam_path.c_str(), "wb", in->header);
    if (out == nullptr) {
        samclose(in);
        std::fprintf(stderr, "mksample: cannot write %s\n", bam_path.c_str());
        return 1;
    }
    bam1_t* b = bam_init1();
    int ret;
    while ((ret = samread(in, b)) >= 0)
        samwrite(out, b);
    bam_destroy1(b);
    samclose(out);
    samclose(in);
    if (ret < -1) {
        std::fprintf(stderr, "mksample: %s did not parse\n", sam_path.c_str());
        return 1;
    }
    bam_index_build(bam_path.c_str());
    return 0;
}
