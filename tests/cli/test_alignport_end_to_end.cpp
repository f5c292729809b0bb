// hxrun driving the real alignport plug-in on a BAM made by the BAM library, as a user would.
#include "bamkit.h"
#include "hxrun_runner.h"

namespace {

class AlignportThroughHxrun : public ::testing::Test {
protected:
    testkit::TempDir dir;
    std::string bam = bamkit::make_bam(dir, "sample",
                                       bamkit::sam_header({{"chr1", 1000}, {"chr:2", 2500}}) +
                                           "r1\t0\tchr1\t10\t30\t5M\t*\t0\t0\tACGTA\tIIIII\n");
};

TEST_F(AlignportThroughHxrun, GetHeaderGivesTextNamesAndLengths) {
    const auto r = clitest::hxrun({"--nout", "3", "--json", "-", "alignport", "getheader", bam});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(clitest::python_accepts(r.out, R"(
text, names, lengths = d["outputs"]
assert "@SQ\tSN:chr1\tLN:1000\n" in text["text"] and text["class"] == "char"
assert names["dims"] == [2, 1] and [n["text"] for n in names["data"]] == ["chr1", "chr:2"]
assert lengths == {"class": "uint32", "dims": [2, 1], "data": [1000, 2500]}
assert d["fds"]["before"] == d["fds"]["after"]
)")) << r.out;
}

TEST_F(AlignportThroughHxrun, RegionTextReachesThePluginAsText) {
    const auto r = clitest::hxrun(
        {"--nout", "1", "alignport", "validatereferencestring", bam, "chr1:100-200"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "out1: int32 1x1\n  0\n");
}

TEST_F(AlignportThroughHxrun, ServiceErrorIsStatusOne) {
    const auto r = clitest::hxrun({"--nout", "4", "alignport", "getheader", bam});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("helixo:alignport:getheader:InvalidNumOutputArg: ", 0), 0u) << r.err;
}

} // namespace
