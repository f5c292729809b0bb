// "MateIndex": the first and second properly paired entries of a QNAME are each other's mates,
// the third and fourth likewise; values are 1-based entry numbers among the call's entries.
#include "traitmark_kit.h"

#include <algorithm>
#include <random>

using namespace testkit;
using tmkit::line_starts;
using tmkit::values_of_feature;

namespace {

std::string lines_of(const std::vector<std::pair<std::string, int>>& reads) {
    std::string text;
    for (const auto& read : reads)
        text += read.first + "\t" + std::to_string(read.second) +
                "\tchr1\t1\t60\t4M\t=\t1\t0\tACGT\tIIII\n";
    return text;
}

std::vector<std::uint32_t> mates_of(const std::vector<std::pair<std::string, int>>& reads) {
    const std::string text = lines_of(reads);
    return values_of_feature("sam", "MateIndex", text, line_starts(text), 4);
}

TEST(MateIndex, PairsAlternatingNames) {
    EXPECT_EQ(mates_of({{"A", 99}, {"B", 99}, {"A", 147}, {"B", 147}}),
              (std::vector<std::uint32_t>{3, 4, 1, 2}));
}

TEST(MateIndex, AnUnmappedReadHasNoMateAndLeavesItsPartnerAlone) {
    EXPECT_EQ(mates_of({{"A", 99}, {"B", 99}, {"A", 147 | 4}, {"B", 147}}),
              (std::vector<std::uint32_t>{0, 4, 0, 2}));
}

TEST(MateIndex, AThirdReadOfOneNameWaitsForAFourth) {
    EXPECT_EQ(mates_of({{"A", 99}, {"A", 147}, {"A", 99}}), (std::vector<std::uint32_t>{2, 1, 0}));
    EXPECT_EQ(mates_of({{"A", 99}, {"A", 147}, {"A", 99}, {"A", 147}}),
              (std::vector<std::uint32_t>{2, 1, 4, 3}));
}

TEST(MateIndex, OnlyTheLowFourFlagBitsDecide) {
    // 0x1 and 0x2 set, 0x4 and 0x8 clear: higher bits (secondary, supplementary) play no part.
    EXPECT_EQ(mates_of({{"A", 3},
                        {"A", 3 | 256 | 2048},
                        {"B", 1},
                        {"B", 1},
                        {"C", 2},
                        {"C", 2},
                        {"D", 11},
                        {"D", 3}}),
              (std::vector<std::uint32_t>{2, 1, 0, 0, 0, 0, 0, 0}));
}

TEST(MateIndex, NamesMatchOnlyWhenEqualInLengthAndBytes) {
    EXPECT_EQ(
        mates_of({{"read1", 99}, {"read", 147}, {"read10", 147}, {"READ1", 147}, {"read1", 147}}),
        (std::vector<std::uint32_t>{5, 0, 0, 0, 1}));
}

TEST(MateIndex, NumbersReferToTheCallsEntriesNotToLinesOfTheFile) {
    const std::string text = lines_of({{"X", 0}, {"A", 99}, {"Y", 0}, {"A", 147}});
    const auto starts = line_starts(text);
    EXPECT_EQ(values_of_feature("sam", "MateIndex", text, {starts[3], starts[1]}, 4),
              (std::vector<std::uint32_t>{2, 1}));
    EXPECT_EQ(values_of_feature("sam", "MateIndex", text, {starts[1], starts[1]}, 4),
              (std::vector<std::uint32_t>{2, 1}))
        << "the same line twice is two entries";
}

TEST(MateIndex, ValuesAreWrittenOnlyAfterTheLastEntry) {
    // An invalid entry cannot stop MateIndex (it reads no CIGAR), so the block comes whole.
    const std::string text = lines_of({{"A", 99}, {"A", 147}}) + "B\n" + "\n";
    const auto starts = line_starts(text);
    EXPECT_EQ(values_of_feature("sam", "MateIndex", text, starts, 4),
              (std::vector<std::uint32_t>{2, 1, 0, 0}));
}

// The pairing as the oldest-first linear search over a list of pending (QNAME, entry) pairs.
std::vector<std::uint32_t> naive_mates(const std::vector<std::pair<std::string, int>>& reads) {
    std::vector<std::uint32_t> mates(reads.size(), 0xFFFFFFFFu);
    std::vector<std::pair<std::string, std::uint32_t>> pending;
    for (std::uint32_t i = 0; i < reads.size(); ++i) {
        if ((reads[i].second & 0xF) != 0x3)
            continue;
        auto found = std::find_if(pending.begin(), pending.end(),
                                  [&](const auto& p) { return p.first == reads[i].first; });
        if (found == pending.end()) {
            pending.emplace_back(reads[i].first, i);
            continue;
        }
        mates[found->second] = i;
        mates[i] = found->second;
        pending.erase(found);
    }
    for (std::uint32_t& m : mates)
        m += 1;
    return mates;
}

std::vector<std::pair<std::string, int>> reads_of(const std::string& sam) {
    std::vector<std::pair<std::string, int>> reads;
    for (std::uint64_t at : tmkit::alignment_starts(sam)) {
        const std::size_t tab = sam.find('\t', at);
        reads.emplace_back(sam.substr(at, tab - at), std::stoi(sam.substr(tab + 1)));
    }
    return reads;
}

TEST(MateIndex, AgreesWithTheOldestFirstSearchOnAGeneratedFileWithMatesFarApart) {
    for (unsigned seed : {1u, 2u, 3u}) {
        const std::string sam = tmkit::paired_sam(seed, 3000);
        const auto reads = reads_of(sam);
        const auto expected = naive_mates(reads);
        std::size_t paired = 0;
        for (std::uint32_t v : expected)
            paired += v != 0;
        ASSERT_GT(paired, reads.size() / 2) << "the file pairs most of its reads";
        for (bool wide : {false, true}) {
            EXPECT_EQ(
                values_of_feature("sam", "MateIndex", sam, tmkit::alignment_starts(sam), 4, wide),
                expected)
                << "seed " << seed;
        }
    }
}

TEST(MateIndex, AgreesWithTheOldestFirstSearchOverShuffledEntries) {
    const std::string sam = tmkit::paired_sam(7, 1500);
    auto starts = tmkit::alignment_starts(sam);
    std::mt19937 rng(7);
    std::shuffle(starts.begin(), starts.end(), rng);
    starts.resize(starts.size() * 2 / 3);
    std::vector<std::pair<std::string, int>> reads;
    const auto all = reads_of(sam);
    const auto all_starts = tmkit::alignment_starts(sam);
    for (std::uint64_t at : starts) {
        const auto k = static_cast<std::size_t>(
            std::lower_bound(all_starts.begin(), all_starts.end(), at) - all_starts.begin());
        reads.push_back(all[k]);
    }
    EXPECT_EQ(values_of_feature("sam", "MateIndex", sam, starts, 4), naive_mates(reads));
}

} // namespace
