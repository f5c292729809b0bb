// "fasta" and "fastq" scanning: header rules, keys, offsets checked against an independent
// reading of the text (and against samtools faidx), line endings and long lines.
#include "indexkit.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

using namespace indexkit;
using testkit::TempDir;

namespace {

// Positions of the lines whose first character is c, then the text's size.
std::vector<std::uint64_t> starts_of_lines_beginning_with(const std::string& text, char c) {
    std::vector<std::uint64_t> out;
    for (std::uint64_t at : line_starts(text)) {
        if (text[at] == c)
            out.push_back(at);
    }
    out.push_back(text.size());
    return out;
}

struct Ending {
    const char* name;
    const char* ending;
    bool final_newline;
};

const Ending kEndings[] = {
    {"LF", "\n", true},
    {"CRLF", "\r\n", true},
    {"NoFinalNewline", "\n", false},
    {"CRLFNoFinalNewline", "\r\n", false},
};

class SequenceEndings : public ::testing::TestWithParam<Ending> {
protected:
    TempDir dir;
    Request request(const std::string& type, const std::string& lf_text) {
        Request r;
        r.type = type;
        r.input = dir.write_text(
            "in.txt", with_endings(lf_text, GetParam().ending, GetParam().final_newline));
        r.index = dir.file("out.idx");
        return r;
    }
};

TEST_P(SequenceEndings, FastaEntriesStartAtTheirHeaderLines) {
    Request r = request("fasta", "ignored before the first header\n>s1 first one\nACGT\nAC\n"
                                 ">s2\nGG\n>s3\tthird\nT\n");
    const std::string text = testkit::read_file(r.input);
    auto result = run(r);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(output(result, 0), 3);
    EXPECT_EQ(output(result, 1), 8);
    const IndexFile f = read_index(r.index);
    EXPECT_EQ(f.keys, (std::vector<std::string>{"s1", "s2", "s3"}));
    EXPECT_EQ(f.offsets, starts_of_lines_beginning_with(text, '>'));
}

TEST_P(SequenceEndings, FastqEntriesAreFourLinesEvenWithAnAtSignQualityLine) {
    Request r = request("fastq", "@r1 one\nACGT\n+\nIIII\n@r2\nGG\n+\n@I\n@r3\nT\n+r3\nI\n");
    const std::string text = testkit::read_file(r.input);
    auto result = run(r);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(output(result, 0), 3);
    EXPECT_EQ(output(result, 1), 12);
    const IndexFile f = read_index(r.index);
    EXPECT_EQ(f.keys, (std::vector<std::string>{"r1", "r2", "r3"}));
    const std::vector<std::uint64_t> lines = line_starts(text);
    EXPECT_EQ(f.offsets, (std::vector<std::uint64_t>{lines[0], lines[4], lines[8], text.size()}));
}

INSTANTIATE_TEST_SUITE_P(Flatmark, SequenceEndings, ::testing::ValuesIn(kEndings),
                         [](const auto& param) { return std::string(param.param.name); });

class SequenceScan : public ScanFixture {};

TEST_F(SequenceScan, FastaHeaderMustBeTheVeryFirstCharacter) {
    Request r = request("fasta", ">a\n >x\nAC\n> y\n");
    auto result = run(r);
    EXPECT_EQ(output(result, 0), 2);
    const IndexFile f = read_index(r.index);
    EXPECT_EQ(f.keys, (std::vector<std::string>{"a", "y"}));
    EXPECT_EQ(f.offsets, (std::vector<std::uint64_t>{0, 10, 14}));
}

TEST_F(SequenceScan, FastaHeaderWithoutAWordRepeatsThePreviousKey) {
    Request r = request("fasta", ">\nAC\n>b\nA\n>  \nC\n");
    ASSERT_TRUE(run(r).ok);
    EXPECT_EQ(read_index(r.index).keys, (std::vector<std::string>{"", "b", "b"}));
}

TEST_F(SequenceScan, KeysOffWritesNoKeysSection) {
    Request r = request("fasta", ">a\nAC\n>b\nGT\n");
    r.keys = 0;
    ASSERT_TRUE(run(r).ok);
    const IndexFile f = read_index(r.index);
    EXPECT_EQ(f.keys_position, 0u);
    EXPECT_EQ(f.table_position, 512u);
    EXPECT_TRUE(f.keys.empty());
    EXPECT_EQ(testkit::file_size(r.index), 512 + 12);
}

TEST_F(SequenceScan, FastaOffsetsAgreeWithSamtoolsFaidx) {
    std::mt19937 rng(20261208);
    std::string text;
    std::vector<std::string> names;
    for (int s = 0; s < 40; ++s) {
        names.push_back("seq" + std::to_string(s));
        text += ">" + names.back() + "\n";
        const int length = std::uniform_int_distribution<int>(1, 500)(rng);
        for (int i = 0; i < length; ++i) {
            text.push_back("ACGT"[rng() % 4]);
            if (i % 60 == 59 || i == length - 1)
                text.push_back('\n');
        }
    }
    Request r = request("fasta", text);
    ASSERT_TRUE(run(r).ok);
    const IndexFile f = read_index(r.index);
    ASSERT_EQ(f.keys, names);

    const std::string command = "samtools faidx '" + r.input + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        SKIP_OR_FAIL_WITHOUT_PEER("samtools faidx is not available");
    std::ifstream fai(r.input + ".fai");
    std::string line;
    std::vector<std::uint64_t> expected;
    while (std::getline(fai, line)) {
        std::istringstream fields(line);
        std::string name;
        std::uint64_t length = 0, sequence_offset = 0;
        fields >> name >> length >> sequence_offset;
        expected.push_back(sequence_offset - (name.size() + 2)); // back over ">name\n"
    }
    expected.push_back(text.size());
    EXPECT_EQ(f.offsets, expected);
}

TEST_F(SequenceScan, FastqTruncatedRecordStillCountsItsThreeLines) {
    Request r = request("fastq", "@r1\nAC\n+\nII\n@r2\nGG\n");
    auto result = run(r);
    EXPECT_EQ(output(result, 0), 2);
    EXPECT_EQ(output(result, 1), 8);
    EXPECT_EQ(read_index(r.index).offsets, (std::vector<std::uint64_t>{0, 12, 19}));
}

TEST_F(SequenceScan, FastqStrayLineIsCountedInsideThePreviousEntry) {
    Request r = request("fastq", "@r1\nAC\n+\nII\nstray\n@r2\nGG\n+\nII\n");
    auto result = run(r);
    EXPECT_EQ(output(result, 0), 2);
    EXPECT_EQ(output(result, 1), 9);
    EXPECT_EQ(read_index(r.index).offsets, (std::vector<std::uint64_t>{0, 18, 30}));
}

TEST_F(SequenceScan, FastqPollsOnlyTheHeaderLines) {
    std::string text;
    for (int i = 0; i < 25; ++i)
        text += "@r" + std::to_string(i) + "\nACGT\n+\n@III\n";
    Request r = request("fastq", text);
    auto result = run(r);
    EXPECT_EQ(output(result, 1), 100);
    EXPECT_EQ(result.polls.handle, 25);
    EXPECT_EQ(result.polls.is_pending, 0);
}

TEST_F(SequenceScan, FastaPollsEveryLine) {
    Request r = request("fasta", ">a\nAC\nGT\n>b\n\nA\n");
    auto result = run(r);
    EXPECT_EQ(output(result, 1), 6);
    EXPECT_EQ(result.polls.handle, 6);
}

// A line is read in pieces of at most 65,534 characters, each a line of its own.
// Lengths around the old 65,534-character piece, the reader's 256 KiB block and two blocks.
class LongLines : public ::testing::TestWithParam<std::size_t> {};

TEST_P(LongLines, CountAsOneLine) {
    const std::size_t length = GetParam(); // characters before the line feed
    TempDir dir;
    Request r;
    r.input = dir.write_text("in.fa", ">a\n" + std::string(length, 'A') + "\n>b\nC\n");
    r.index = dir.file("out.idx");
    auto result = run(r);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(output(result, 0), 2);
    EXPECT_EQ(output(result, 1), 4);
    EXPECT_EQ(result.polls.handle, 4);
    EXPECT_EQ(read_index(r.index).offsets,
              (std::vector<std::uint64_t>{0, 3 + length + 1, 3 + length + 6}));
}

INSTANTIATE_TEST_SUITE_P(Flatmark, LongLines,
                         ::testing::Values(65533, 65534, 65535, 2 * 65534 + 1, 262142, 262143,
                                           262144, 262145, 2 * 262144 + 7, 1000003));

TEST_F(SequenceScan, MarkInsideALongLineBeginsNoEntry) {
    for (std::size_t at : {65534, 262144, 300000}) {
        Request r = request("fasta", ">a\n" + std::string(at, 'A') + ">b\nC\n");
        auto result = run(r);
        ASSERT_TRUE(result.ok) << at;
        EXPECT_EQ(output(result, 0), 1) << at;
        EXPECT_EQ(output(result, 1), 3) << at;
        EXPECT_EQ(read_index(r.index).keys, (std::vector<std::string>{"a"})) << at;
        EXPECT_EQ(read_index(r.index).offsets, (std::vector<std::uint64_t>{0, at + 8})) << at;
    }
}

} // namespace
