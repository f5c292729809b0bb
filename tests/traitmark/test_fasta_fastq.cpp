// FASTA and FASTQ "Length": sequence characters counted line by line, lines taken as pieces
// of at most 65,534 characters; carriage returns, line feeds, blanks and tabs do not count.
#include "traitmark_kit.h"

using namespace testkit;
using tmkit::starts_of_lines_beginning;
using tmkit::values_of_feature;

namespace {

// Entry offsets of a FASTA text as a consecutive index holds them: N starts and the end.
std::vector<std::uint64_t> fasta_offsets(const std::string& text) {
    auto offsets = starts_of_lines_beginning(text, ">");
    offsets.push_back(text.size());
    return offsets;
}

std::vector<std::uint32_t> fasta_lengths(const std::string& text,
                                         const std::vector<std::uint64_t>& offsets,
                                         bool wide = false) {
    return values_of_feature("fasta", "Length", text, offsets, 4, wide);
}

TEST(FastaLength, CountsSequenceLinesAcrossCrlfAndBlanks) {
    const std::string text = ">one\nACGT\nAC GT\r\n>two\nA\tC\n\n  \r\nGG\n>three\n";
    EXPECT_EQ(fasta_lengths(text, fasta_offsets(text)), (std::vector<std::uint32_t>{8, 4, 0}));
}

TEST(FastaLength, CountsTheLastEntryUpToTheEndOfTheFile) {
    const std::string text = ">a\nACGT\n>b\nACGTACGTAA\nCC";
    auto offsets = fasta_offsets(text);
    EXPECT_EQ(fasta_lengths(text, offsets), (std::vector<std::uint32_t>{4, 12}));
    for (bool wide : {false, true}) {
        offsets.back() = wide ? ~std::uint64_t{0} : 0xFFFFFFFFu;
        EXPECT_EQ(fasta_lengths(text, offsets, wide), (std::vector<std::uint32_t>{4, 12}))
            << "an end offset beyond the file counts to its end";
    }
}

TEST(FastaLength, CountsWholeEveryLineThatBeginsBeforeTheNextOffset) {
    const std::string text = ">a\nACGTACGTAC\nGGGG\n";
    EXPECT_EQ(fasta_lengths(text, {0, 5}), std::vector<std::uint32_t>{10});
    EXPECT_EQ(fasta_lengths(text, {0, 14}), std::vector<std::uint32_t>{10});
    EXPECT_EQ(fasta_lengths(text, {0, 15}), std::vector<std::uint32_t>{14});
    EXPECT_EQ(fasta_lengths(text, {0, 3}), std::vector<std::uint32_t>{0});
    EXPECT_EQ(fasta_lengths(text, {0, 0}), std::vector<std::uint32_t>{0});
}

// A line is one line whatever its length: it counts when it begins before the next entry.
TEST(FastaLength, ALongLineCountsWholeWhenItBeginsBeforeTheNextEntry) {
    const std::string header = ">long\n";
    const std::string text = header + std::string(100000, 'A') + "\n>next\nAC\n";
    EXPECT_EQ(fasta_lengths(text, fasta_offsets(text)), (std::vector<std::uint32_t>{100000, 2}));
    EXPECT_EQ(fasta_lengths(text, {0, header.size()}), std::vector<std::uint32_t>{0});
    EXPECT_EQ(fasta_lengths(text, {0, header.size() + 1}), std::vector<std::uint32_t>{100000});
}

TEST(FastaLength, ALongHeaderIsOneLine) {
    const std::string text = ">" + std::string(70000, 'h') + "\nACGT\n";
    EXPECT_EQ(fasta_lengths(text, {0, text.size()}), std::vector<std::uint32_t>{4});
}

TEST(FastaLength, AnEntryAtOrBeyondTheEndOfTheFileIsZero) {
    const std::string text = ">a\nAC\n";
    EXPECT_EQ(fasta_lengths(text, {0, text.size(), text.size() + 10, 1u << 30}),
              (std::vector<std::uint32_t>{2, 0, 0}));
}

TEST(FastaLength, ThirtyTwoAndSixtyFourBitOffsetsGiveTheSameBlock) {
    std::string text;
    for (int k = 0; k < 200; ++k) {
        text += ">seq" + std::to_string(k) + (k % 3 ? "\r\n" : "\n");
        for (int line = 0; line < k % 5; ++line)
            text +=
                std::string(static_cast<std::size_t>(1 + (k * 37 + line) % 80), "ACGT"[line % 4]) +
                (k % 2 ? "\n" : "\r\n");
    }
    const auto offsets = fasta_offsets(text);
    const auto narrow = fasta_lengths(text, offsets, false);
    EXPECT_EQ(narrow, fasta_lengths(text, offsets, true));
    EXPECT_EQ(narrow[4], 1u + (4 * 37) % 80 + 1 + (4 * 37 + 1) % 80 + 1 + (4 * 37 + 2) % 80 + 1 +
                             (4 * 37 + 3) % 80);
}

std::vector<std::uint32_t> fastq_lengths(const std::string& text, bool wide = false) {
    return values_of_feature("fastq", "Length", text, starts_of_lines_beginning(text, "@"), 2,
                             wide);
}

TEST(FastqLength, CountsTheSequenceLine) {
    EXPECT_EQ(fastq_lengths("@r1\nACGTN\n+\nIIIII\n@r2\nACGT\r\n+\r\nIIII\r\n"),
              (std::vector<std::uint32_t>{5, 4}));
}

TEST(FastqLength, CountsOnlyTheFirstLineOfAWrappedSequence) {
    EXPECT_EQ(fastq_lengths("@r1\nACGT\nAC\n+\nIIIIII\n"), std::vector<std::uint32_t>{4});
}

TEST(FastqLength, SkipsBlanksAndTabsAndStopsAtTheEndOfTheFile) {
    EXPECT_EQ(fastq_lengths("@r1\nA C\tG\n+\nIII\n@r2\nACG"), (std::vector<std::uint32_t>{3, 3}));
    EXPECT_EQ(fastq_lengths("@r1\n"), std::vector<std::uint32_t>{0});
}

TEST(FastqLength, ALongLineCountsWhole) {
    const std::string text = "@r\n" + std::string(65535, 'A') + "\n+\n@s\nAC\n";
    EXPECT_EQ(fastq_lengths(text), (std::vector<std::uint32_t>{65535, 2}));
    EXPECT_EQ(fastq_lengths(text, true), (std::vector<std::uint32_t>{65535, 2}));
}

TEST(NoEntries, AppendNothingForEveryFeature) {
    const std::vector<std::pair<std::string, std::string>> features = {
        {"sam", "Flag"},         {"sam", "Position"},  {"sam", "MappingQuality"},
        {"sam", "MatePosition"}, {"sam", "MateIndex"}, {"sam", "QueryLength"},
        {"sam", "EndPosition"},  {"sam", "Reference"}, {"fasta", "Length"},
        {"fastq", "Length"}};
    for (const auto& f : features) {
        for (bool wide : {false, true}) {
            for (std::size_t given : {0, 1}) {
                TempDir dir;
                const std::vector<std::uint64_t> offsets(given, 0);
                const auto out =
                    tmkit::run_feature(dir, f.first, f.second, "r\t99\n", offsets, wide, 0);
                EXPECT_TRUE(out.result.ok) << f.second << ": " << out.result.message;
                EXPECT_TRUE(out.prefix_kept);
                EXPECT_EQ(out.block, "") << f.first << " " << f.second;
                EXPECT_EQ(out.result.polls.handle, 0);
            }
        }
    }
}

} // namespace
