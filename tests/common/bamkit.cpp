#include "bamkit.h"

#include "sam_format.h"

#include <samtools/bam.h>
#include <samtools/sam.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>

namespace bamkit {

std::string sam_header(const std::vector<std::pair<std::string, int>>& refs,
                       const char* sort_order) {
    std::ostringstream s;
    s << "@HD\tVN:1.0\tSO:" << sort_order << "\n";
    for (const auto& r : refs)
        s << "@SQ\tSN:" << r.first << "\tLN:" << r.second << "\n";
    return s.str();
}

std::string make_bam(const testkit::TempDir& dir, const std::string& name, const std::string& sam,
                     bool index) {
    const std::string sam_path = dir.write_text(name + ".sam", sam);
    const std::string bam_path = dir.file(name + ".bam");
    samfile_t* in = samopen(sam_path.c_str(), "r", nullptr);
    EXPECT_NE(in, nullptr) << "cannot read fixture SAM " << sam_path;
    if (in == nullptr)
        return bam_path;
    samfile_t* out = samopen(bam_path.c_str(), "wb", in->header);
    EXPECT_NE(out, nullptr);
    bam1_t* b = bam_init1();
    int r;
    while ((r = samread(in, b)) >= 0)
        samwrite(out, b);
    EXPECT_EQ(r, -1) << "fixture SAM did not parse to its end";
    bam_destroy1(b);
    samclose(out);
    samclose(in);
    if (index)
        bam_index_build(bam_path.c_str());
    expect_sam_text_as_library(bam_path);
    return bam_path;
}

long expect_sam_text_as_library(const std::string& bam_path) {
    samfile_t* in = samopen(bam_path.c_str(), "rb", nullptr);
    if (in == nullptr)
        return -1;
    bam1_t* b = bam_init1();
    std::vector<char> text;
    long records = 0;
    while (samread(in, b) >= 0) {
        ++records;
        const std::size_t length = alignport::format_sam_record(in->header, b, text);
        char* expected = bam_format1(in->header, b);
        if (std::string(text.data(), length) != expected)
            ADD_FAILURE() << bam_path << " record " << records << ": SAM text\n  "
                          << std::string(text.data(), length) << "\nwhere the library gives\n  "
                          << expected;
        std::free(expected);
    }
    bam_destroy1(b);
    samclose(in);
    return records;
}

std::string make_header_only_bam(const testkit::TempDir& dir, const std::string& name,
                                 const std::string& header_text) {
    const std::string bam_path = dir.file(name + ".bam");
    bam_header_t* header = bam_header_init();
    header->l_text = static_cast<std::uint32_t>(header_text.size());
    header->text = static_cast<char*>(std::malloc(header_text.size() + 1));
    std::memcpy(header->text, header_text.c_str(), header_text.size() + 1);
    samfile_t* out = samopen(bam_path.c_str(), "wb", header);
    EXPECT_NE(out, nullptr);
    if (out != nullptr)
        samclose(out);
    bam_header_destroy(header);
    return bam_path;
}

std::string generated_sam(unsigned seed, int references, int reads_per_reference, int read_length) {
    std::mt19937 rng(seed);
    std::vector<std::pair<std::string, int>> refs;
    for (int r = 0; r < references; ++r)
        refs.emplace_back("chr" + std::to_string(r + 1), 100000 + 1000 * r);
    std::ostringstream s;
    s << sam_header(refs);
    static const char kBases[] = "ACGT";
    for (int r = 0; r < references; ++r) {
        std::uniform_int_distribution<int> pos(1, refs[static_cast<std::size_t>(r)].second -
                                                      2 * read_length);
        std::vector<int> starts(static_cast<std::size_t>(reads_per_reference));
        for (int& p : starts)
            p = pos(rng);
        std::sort(starts.begin(), starts.end());
        for (int k = 0; k < reads_per_reference; ++k) {
            const int flag = (rng() % 2 ? 16 : 0) | (rng() % 2 ? 1 | 64 : 0);
            std::string seq, qual;
            for (int j = 0; j < read_length; ++j) {
                seq.push_back(kBases[rng() % 4]);
                qual.push_back(static_cast<char>('!' + rng() % 41));
            }
            const int soft_clip = static_cast<int>(rng() % 3);
            const int matched = read_length - soft_clip;
            // Every third read spells its match out as = and X, as aligners with --eqx write.
            std::string match = std::to_string(matched) + "M";
            if (k % 3 == 2 && matched >= 3)
                match = std::to_string(matched / 2) + "=1X" +
                        std::to_string(matched - matched / 2 - 1) + "=";
            const std::string cigar = soft_clip ? std::to_string(soft_clip) + "S" + match : match;
            s << "r" << r << "_" << k << "\t" << flag << "\t"
              << refs[static_cast<std::size_t>(r)].first << "\t"
              << starts[static_cast<std::size_t>(k)] << "\t" << (rng() % 61) << "\t" << cigar
              << "\t*\t0\t0\t" << seq << "\t" << qual << "\tNM:i:" << (rng() % 5) << "\n";
        }
    }
    return s.str();
}

} // namespace bamkit
