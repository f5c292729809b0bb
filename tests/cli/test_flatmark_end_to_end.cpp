// hxrun driving the real flatmark plug-in as a user would: the index of a FASTA file with its
// outputs as JSON, a stop request, and an input error.
#include "hxrun_runner.h"

#include <cstdint>

namespace {

const std::string kFasta = ">chr1 first\nACGTACGT\nACG\n>chr2\nGGGG\n>chr3 x\r\nTT\r\n";

std::uint64_t le_value(const std::string& bytes, std::size_t at, std::size_t width) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i)
        v |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes.at(at + i))) << (8 * i);
    return v;
}

std::vector<std::string> fasta_args(const std::string& in, const std::string& idx) {
    return {"flatmark", "fasta", in,     idx,    "double:1", "double:1", "double:1",
            "double:0", "str:",  "str:", "str:", "str:\t",   "str:"};
}

class FlatmarkThroughHxrun : public ::testing::Test {
protected:
    testkit::TempDir dir;
    std::string fasta = dir.write_text("genome.fa", kFasta);
    std::string index = dir.file("genome.idx");
};

TEST_F(FlatmarkThroughHxrun, FastaIndexGivesEntriesLinesAndHeaderOffsets) {
    std::vector<std::string> args{"--nout", "2", "--json", "-"};
    for (const auto& a : fasta_args(fasta, index))
        args.push_back(a);
    const auto r = clitest::hxrun(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(clitest::python_accepts(r.out, R"(
n, lines = d["outputs"]
assert n == {"class": "double", "dims": [1, 1], "data": [3]}
assert lines == {"class": "double", "dims": [1, 1], "data": [7]}
assert d["polls"]["handle"] == 7 and d["fds"]["before"] == d["fds"]["after"]
)")) << r.out;

    const std::string bytes = testkit::read_file(index);
    ASSERT_EQ(bytes.substr(0, 6), "QZRidx");
    const std::uint64_t table = le_value(bytes, 24, 8);
    EXPECT_EQ(bytes.substr(512, table - 512), "chr1\nchr2\nchr3\n");
    // The ">" lines of the text, found independently, then its end.
    std::vector<std::uint64_t> expected;
    for (std::size_t at = 0; at < kFasta.size(); at = kFasta.find('\n', at) + 1) {
        if (kFasta[at] == '>')
            expected.push_back(at);
    }
    expected.push_back(kFasta.size());
    std::vector<std::uint64_t> offsets;
    for (std::size_t at = table; at < bytes.size(); at += 8)
        offsets.push_back(le_value(bytes, at, 8));
    EXPECT_EQ(offsets, expected);
}

TEST_F(FlatmarkThroughHxrun, StopRequestEndsWithStatus130AndThePlaceholder) {
    std::vector<std::string> args{"--interrupt-at", "4"};
    for (const auto& a : fasta_args(fasta, index))
        args.push_back(a);
    const auto r = clitest::hxrun(args);
    EXPECT_EQ(r.status, 130);
    EXPECT_NE(r.err.find("helixo:flatmark:IterruptedByUser: Operation terminated by user."),
              std::string::npos)
        << r.err;
    // Poll 4 is the chr2 header line: only the first key was written.
    EXPECT_EQ(testkit::read_file(index), std::string(512, '\0') + "chr1\n");
}

TEST_F(FlatmarkThroughHxrun, UnknownTypeIsStatusOne) {
    std::vector<std::string> args = fasta_args(fasta, index);
    args[1] = "FASTA";
    const auto r = clitest::hxrun(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("helixo:flatmark:UnknownIndexerType: Unknown indexer type.", 0), 0u)
        << r.err;
}

} // namespace
