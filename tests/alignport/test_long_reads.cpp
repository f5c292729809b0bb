// Long reads as an aligner writes them: the seeded simulator of long_reads.h makes two
// references and reads of 1 to 40 kb, minimap2 aligns them with and without --eqx, and
// samtools sorts and indexes the result. Every span, end, CIGAR text and containment decision
// is then checked against pysam and samtools.
#include "bamkit.h"
#include "long_reads.h"
#include "peers.h"

using namespace testkit;

namespace {

// References of 120 and 90 kb; reads of 1 to 40 kb, so that every query length fits the
// 16-bit QueryLength column.
const longreads::Shape kShape{{120000, 90000},
                              {1000, 2500, 5000, 8000, 12000, 20000, 30000, 40000}};

class LongReads : public ::testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite() {
        available_ = longreads::minimap2_available();
        if (!available_)
            return;
        dir_ = new TempDir();
        const longreads::Corpus corpus = longreads::simulate(16, kShape);
        const std::string ref = dir_->write_text("ref.fa", corpus.reference_fasta);
        const std::string reads = dir_->write_text("reads.fq", corpus.reads_fastq);
        for (const bool eqx : {false, true}) {
            const std::string stem = dir_->file(eqx ? "eqx" : "plain");
            ASSERT_TRUE(longreads::align(ref, reads, eqx, stem + ".sam"));
            peers::run("samtools sort -o " + peers::quoted(stem + ".bam") + " " +
                       peers::quoted(stem + ".sam") + " 2>/dev/null && samtools index " +
                       peers::quoted(stem + ".bam"));
        }
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!available_)
            SKIP_OR_FAIL_WITHOUT_PEER("minimap2 cannot be run");
    }
    std::string bam() const { return dir_->file(GetParam() ? "eqx.bam" : "plain.bam"); }

    static TempDir* dir_;
    static bool available_;
};
TempDir* LongReads::dir_ = nullptr;
bool LongReads::available_ = false;

TEST_P(LongReads, StartsEndsAndFlagsAgreeWithPysam) {
    std::size_t eqx_cigars = 0;
    for (int ref : {0, 1}) {
        const auto expected = peers::pysam_fetch(*dir_, bam(), ref);
        ASSERT_GE(expected.size(), 10u) << "reference " << ref;
        for (const auto& a : expected)
            eqx_cigars += a.cigar.find('=') != std::string::npos;
        auto r = call("alignport", 3, args("getstartsinref", bam(), bam() + ".bai", ref));
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(
            hxhost::values_of<std::uint32_t>(r.outputs[0].get()),
            peers::column(expected, [](const peers::PeerAlignment& a) { return a.position; }));
        EXPECT_EQ(
            hxhost::values_of<std::uint32_t>(r.outputs[1].get()),
            peers::column(expected, [](const peers::PeerAlignment& a) { return a.end_position; }));
        std::vector<std::uint16_t> flags;
        for (const auto& a : expected)
            flags.push_back(static_cast<std::uint16_t>(a.flag));
        EXPECT_EQ(hxhost::values_of<std::uint16_t>(r.outputs[2].get()), flags);
    }
    // The --eqx file writes its matches as = and X, the other as M.
    if (GetParam())
        EXPECT_GT(eqx_cigars, 20u);
    else
        EXPECT_EQ(eqx_cigars, 0u);
}

TEST_P(LongReads, SignatureQueryLengthAndEndPositionAgreeWithPysam) {
    for (int ref : {0, 1}) {
        const auto expected = peers::pysam_fetch(*dir_, bam(), ref);
        auto starts = call("alignport", 1, args("getstartsinref", bam(), bam() + ".bai", ref));
        ASSERT_TRUE(starts.ok) << starts.message;
        std::vector<std::int32_t> zero_based;
        for (std::uint32_t s : hxhost::values_of<std::uint32_t>(starts.outputs[0].get()))
            zero_based.push_back(static_cast<std::int32_t>(s) - 1);
        std::vector<std::uint32_t> all(expected.size());
        for (std::size_t k = 0; k < all.size(); ++k)
            all[k] = static_cast<std::uint32_t>(k + 1);
        auto r = call("alignport", 3,
                      args("getfeaturesinrefbyindex", bam(), bam() + ".bai",
                           cell_of({"Signature", "QueryLength", "EndPosition"}), ref, u32(all),
                           i32(zero_based)));
        ASSERT_TRUE(r.ok) << r.identifier << " " << r.message;
        for (std::size_t k = 0; k < expected.size(); ++k)
            EXPECT_EQ(hxhost::text_of(haGetCell(r.outputs[0].get(), k)), expected[k].cigar) << k;
        std::vector<std::uint16_t> lengths;
        for (const auto& a : expected)
            lengths.push_back(static_cast<std::uint16_t>(a.query_length));
        EXPECT_EQ(hxhost::values_of<std::uint16_t>(r.outputs[1].get()), lengths);
        EXPECT_EQ(
            hxhost::values_of<std::uint32_t>(r.outputs[2].get()),
            peers::column(expected, [](const peers::PeerAlignment& a) { return a.end_position; }));
    }
}

TEST_P(LongReads, ContainedRegionLinesAreSamtoolsLinesWhollyInside) {
    const std::string out = dir_->file(GetParam() ? "eqx.region.sam" : "plain.region.sam");
    const char* region = "chrA:20001-80000";
    auto r =
        call("alignport", 0, args("writesambyregion", bam(), bam() + ".bai", out, region, 1, 1));
    ASSERT_TRUE(r.ok) << r.message;
    std::string expected;
    std::size_t left = 0;
    for (const std::string& line : peers::lines_of(peers::samtools_view(bam(), region))) {
        const std::vector<std::string> cols = peers::split(line, '\t');
        const long pos = std::stol(cols[3]) - 1;
        if (pos < 20000 || pos + peers::cigar_span(cols[5]) > 80000) {
            ++left;
            continue;
        }
        expected += line + "\n";
    }
    EXPECT_GT(left, 0u) << "some alignments reach out of the region";
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(read_file(out), expected);
}

INSTANTIATE_TEST_SUITE_P(Minimap2, LongReads, ::testing::Bool(),
                         [](const auto& p) { return std::string(p.param ? "Eqx" : "Plain"); });

} // namespace
