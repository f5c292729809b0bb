#include "traitmark_kit.h"

namespace tmkit {

namespace {
const char kIndexPrefix[] = "IDX\0head\n";
} // namespace

std::vector<std::uint64_t> line_starts(const std::string& text) {
    std::vector<std::uint64_t> starts;
    std::uint64_t at = 0;
    while (at < text.size()) {
        starts.push_back(at);
        const std::size_t feed = text.find('\n', at);
        if (feed == std::string::npos)
            break;
        at = feed + 1;
    }
    return starts;
}

std::vector<std::uint64_t> starts_of_lines_beginning(const std::string& text,
                                                     const std::string& prefix) {
    std::vector<std::uint64_t> starts;
    for (std::uint64_t at : line_starts(text)) {
        if (text.compare(at, prefix.size(), prefix) == 0)
            starts.push_back(at);
    }
    return starts;
}

testkit::Inputs call_inputs(const std::string& indexer, const std::string& feature,
                            const std::string& input_path, const std::string& index_path,
                            std::uint32_t count, const std::vector<std::uint64_t>& offsets,
                            bool wide, const std::string& feature_type) {
    std::vector<std::uint32_t> narrow;
    for (std::uint64_t o : offsets)
        narrow.push_back(static_cast<std::uint32_t>(o));
    return testkit::args(indexer, feature, feature_type, input_path, index_path,
                         hxhost::make_double(0), testkit::u32({count}), hxhost::make_logical(wide),
                         wide ? testkit::u64(offsets) : testkit::u32(narrow));
}

Appended run_feature(const testkit::TempDir& dir, const std::string& indexer,
                     const std::string& feature, const std::string& text,
                     const std::vector<std::uint64_t>& offsets, bool wide, long count,
                     const hxhost::CallOptions& options) {
    const std::string prefix(kIndexPrefix, sizeof kIndexPrefix - 1);
    const std::string input = dir.write_text("input.txt", text);
    const std::string index = dir.write_text("input.idx", prefix);
    const long entries = static_cast<long>(offsets.size()) - (indexer == "fasta" ? 1 : 0);
    const auto n = static_cast<std::uint32_t>(count < 0 ? entries : count);
    Appended out;
    out.result = testkit::call(
        "traitmark", 0, call_inputs(indexer, feature, input, index, n, offsets, wide), options);
    const std::string after = testkit::read_file(index);
    out.prefix_kept = after.compare(0, prefix.size(), prefix) == 0;
    if (after.size() >= prefix.size())
        out.block = after.substr(prefix.size());
    return out;
}

std::vector<std::uint32_t> decode(const std::string& block, unsigned width) {
    std::vector<std::uint32_t> values;
    for (std::size_t at = 0; at + width <= block.size(); at += width) {
        std::uint32_t v = 0;
        for (unsigned k = 0; k < width; ++k)
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(block[at + k])) << (8 * k);
        values.push_back(v);
    }
    return values;
}

std::vector<std::uint32_t> values_of_feature(const std::string& indexer, const std::string& feature,
                                             const std::string& text,
                                             const std::vector<std::uint64_t>& offsets,
                                             unsigned width, bool wide) {
    testkit::TempDir dir;
    Appended out = run_feature(dir, indexer, feature, text, offsets, wide);
    EXPECT_TRUE(out.result.ok) << out.result.identifier << ": " << out.result.message;
    EXPECT_TRUE(out.prefix_kept);
    const std::size_t entries = offsets.size() - (indexer == "fasta" ? 1 : 0);
    EXPECT_EQ(out.block.size(), entries * width) << "the block holds one value per entry";
    return decode(out.block, width);
}

unsigned width_of(const std::string& feature, const std::string& indexer) {
    if (feature == "Flag" || feature == "QueryLength")
        return 2;
    if (feature == "MappingQuality" || feature == "Reference")
        return 1;
    if (feature == "Length")
        return indexer == "fasta" ? 4 : 2;
    return 4;
}

} // namespace tmkit

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>
#include <tuple>

namespace tmkit {

namespace {

struct Read {
    std::string name;
    int flag;
    int reference; // from 0; -1 unmapped
    long position; // 1-based; 0 unmapped
    std::string cigar;
    int query_length;
    long mate_position;
    int mapq;
};

// A CIGAR with clips, matches (M, = and X), insertions, deletions, skips and padding.
std::pair<std::string, int> random_cigar(std::mt19937& rng) {
    std::ostringstream cigar;
    int query = 0;
    auto op = [&](unsigned length, char c) {
        cigar << length << c;
        if (c == 'M' || c == 'I' || c == 'S' || c == '=' || c == 'X')
            query += static_cast<int>(length);
    };
    if (rng() % 4 == 0)
        op(1 + rng() % 20, 'H');
    if (rng() % 3 == 0)
        op(1 + rng() % 30, 'S');
    op(5 + rng() % 60, 'M');
    const unsigned middle = rng() % 4;
    for (unsigned k = 0; k < middle; ++k) {
        static const char kOps[] = "IDNP";
        op(1 + rng() % (k % 2 ? 300 : 9), kOps[rng() % 4]);
        op(1 + rng() % 40, "M=X"[k % 3]); // = and X as aligners with --eqx write them
    }
    if (rng() % 3 == 0)
        op(1 + rng() % 30, 'S');
    if (rng() % 4 == 0)
        op(1 + rng() % 20, 'H');
    return {cigar.str(), query};
}

} // namespace

std::string paired_sam(unsigned seed, int pairs) {
    std::mt19937 rng(seed);
    const int kReferences = 3;
    const long kLength = 2000000;
    std::vector<Read> reads;
    for (int p = 0; p < pairs; ++p) {
        // Every seventh pair reuses the name of an earlier pair: a third and fourth read.
        const std::string name =
            "q" + std::to_string(p % 7 == 6 && p > 7 ? p - 5 - static_cast<int>(rng() % 3) : p);
        const int reference = static_cast<int>(rng() % kReferences);
        const long first = 1 + static_cast<long>(rng() % 1000000);
        const long second = first + static_cast<long>(rng() % 900000); // mates far apart
        static const int kFlagPairs[][2] = {{99, 147}, {83, 163},  {97, 145}, {65, 129},
                                            {73, 133}, {355, 403}, {99, 147}, {83, 163},
                                            {1, 1},    {0, 0},     {99, 155}, {67, 131}};
        const auto& flags = kFlagPairs[rng() % (sizeof kFlagPairs / sizeof kFlagPairs[0])];
        for (int mate = 0; mate < 2; ++mate) {
            const auto cigar = random_cigar(rng);
            reads.push_back({name, flags[mate], reference, mate ? second : first, cigar.first,
                             cigar.second, mate ? first : second, static_cast<int>(rng() % 256)});
        }
    }
    std::stable_sort(reads.begin(), reads.end(), [](const Read& a, const Read& b) {
        return std::tie(a.reference, a.position) < std::tie(b.reference, b.position);
    });
    for (int u = 0; u < 5; ++u)
        reads.push_back({"u" + std::to_string(u), 4, -1, 0, "*", 12, 0, 0});
    static const char kBases[] = "ACGT";
    std::ostringstream s;
    s << "@HD\tVN:1.6\tSO:coordinate\n";
    for (int r = 0; r < kReferences; ++r)
        s << "@SQ\tSN:chr" << r + 1 << "\tLN:" << kLength << "\n";
    for (const Read& read : reads) {
        std::string seq, qual;
        for (int k = 0; k < read.query_length; ++k) {
            seq.push_back(kBases[rng() % 4]);
            qual.push_back(static_cast<char>('!' + rng() % 40));
        }
        s << read.name << '\t' << read.flag << '\t'
          << (read.reference < 0 ? "*" : "chr" + std::to_string(read.reference + 1)) << '\t'
          << read.position << '\t' << read.mapq << '\t' << read.cigar << '\t'
          << (read.reference < 0 ? "*" : "=") << '\t' << read.mate_position << "\t0\t" << seq
          << '\t' << qual << "\tNM:i:0\n";
    }
    return s.str();
}

std::vector<std::uint64_t> alignment_starts(const std::string& text) {
    std::vector<std::uint64_t> starts;
    for (std::uint64_t at : line_starts(text)) {
        if (text[at] != '@')
            starts.push_back(at);
    }
    return starts;
}

bool run_pysam(const std::string& script, const std::string& argument, std::string& output) {
    testkit::TempDir dir;
    const std::string path = dir.write_text("check.py", script);
    const std::string command = "/usr/bin/python3 " + path + " '" + argument + "' 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return false;
    output.clear();
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.append(chunk, got);
    return ::pclose(pipe) == 0;
}

} // namespace tmkit
