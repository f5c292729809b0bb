// traitmark on long-read files: minimap2's SAM text of reads of 1 to 200 kb, with and without
// --eqx, checked against pysam; the reads as FASTQ and FASTA against the simulator's own
// lengths. A query or read length wider than its 2-byte column ends the call with
// ValueOutOfRange naming the first such entry.
#include "long_reads.h"
#include "traitmark_kit.h"

#include <sstream>

using testkit::TempDir;
using tmkit::values_of_feature;

namespace {

const longreads::Shape kShape{{250000, 220000}, {1000, 200000, 5000, 70000, 20000, 120000}, 12};

const char kPysamScript[] = R"(
import sys, pysam
for r in pysam.AlignmentFile(sys.argv[1], "r"):
    end = r.reference_end if r.cigartuples else r.reference_start + 1
    print(r.flag, r.reference_start + 1, end, r.infer_query_length() or 0)
)";

class LongReadFeatures : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        std::string ignored;
        if (!longreads::minimap2_available())
            SKIP_OR_FAIL_WITHOUT_PEER("minimap2 cannot be run");
        if (!tmkit::run_pysam("import pysam\n", "", ignored))
            SKIP_OR_FAIL_WITHOUT_PEER("/usr/bin/python3 with pysam is not available");
        corpus = longreads::simulate(2026, kShape);
        const std::string sam = dir.file("aligned.sam");
        ASSERT_TRUE(longreads::align(dir.write_text("ref.fa", corpus.reference_fasta),
                                     dir.write_text("reads.fq", corpus.reads_fastq), GetParam(),
                                     sam));
        text = testkit::read_file(sam);
        std::string printed;
        ASSERT_TRUE(tmkit::run_pysam(kPysamScript, sam, printed));
        std::istringstream in(printed);
        for (std::uint32_t flag, position, end, length; in >> flag >> position >> end >> length;)
            rows.push_back({flag, position, end, length});
    }

    struct Row {
        std::uint32_t flag, position, end, query_length;
    };
    TempDir dir;
    longreads::Corpus corpus;
    std::string text;
    std::vector<Row> rows;
};

TEST_P(LongReadFeatures, FlagPositionAndEndPositionAgreeWithPysam) {
    const auto starts = tmkit::alignment_starts(text);
    ASSERT_EQ(starts.size(), rows.size());
    std::vector<std::uint32_t> flags, positions, ends;
    for (const Row& r : rows) {
        flags.push_back(r.flag);
        positions.push_back(r.position);
        ends.push_back(r.end);
    }
    EXPECT_EQ(values_of_feature("sam", "Flag", text, starts, 2), flags);
    EXPECT_EQ(values_of_feature("sam", "Position", text, starts, 4), positions);
    EXPECT_EQ(values_of_feature("sam", "EndPosition", text, starts, 4), ends);
}

TEST_P(LongReadFeatures, QueryLengthAgreesWithPysamOrIsOutOfRange) {
    const auto starts = tmkit::alignment_starts(text);
    ASSERT_EQ(starts.size(), rows.size());
    std::vector<std::uint64_t> fitting;
    std::vector<std::uint32_t> lengths;
    std::size_t first_wide = 0;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        if (rows[k].query_length <= 0xFFFF) {
            fitting.push_back(starts[k]);
            lengths.push_back(rows[k].query_length);
        } else if (first_wide == 0) {
            first_wide = k + 1;
        }
    }
    ASSERT_GT(first_wide, 0u) << "some alignment longer than 65535 bases";
    EXPECT_EQ(values_of_feature("sam", "QueryLength", text, fitting, 2), lengths);
    const auto out = tmkit::run_feature(dir, "sam", "QueryLength", text, starts);
    EXPECT_HX_ERROR(out.result, "helixo:traitmark:ValueOutOfRange",
                    "Value " + std::to_string(rows[first_wide - 1].query_length) + " of entry " +
                        std::to_string(first_wide) + " does not fit 2 bytes.");
    EXPECT_TRUE(out.prefix_kept);
    EXPECT_EQ(out.block, "");
}

TEST(LongReadLengths, AsFastqAndFastaAreTheSimulatorsOwn) {
    TempDir dir;
    const longreads::Corpus corpus = longreads::simulate(2026, kShape);
    const std::string fasta = longreads::reads_fasta(corpus);
    std::vector<std::uint32_t> all, fitting;
    std::vector<std::uint64_t> fastq_fitting;
    std::size_t first_wide = 0;
    const auto fastq_starts = tmkit::starts_of_lines_beginning(corpus.reads_fastq, "@");
    ASSERT_EQ(fastq_starts.size(), corpus.bases.size());
    for (std::size_t k = 0; k < corpus.bases.size(); ++k) {
        all.push_back(static_cast<std::uint32_t>(corpus.bases[k].size()));
        if (corpus.bases[k].size() <= 0xFFFF) {
            fitting.push_back(all.back());
            fastq_fitting.push_back(fastq_starts[k]);
        } else if (first_wide == 0) {
            first_wide = k + 1;
        }
    }
    std::vector<std::uint64_t> fasta_offsets = tmkit::starts_of_lines_beginning(fasta, ">");
    fasta_offsets.push_back(fasta.size());
    EXPECT_EQ(values_of_feature("fasta", "Length", fasta, fasta_offsets, 4), all);
    EXPECT_EQ(values_of_feature("fastq", "Length", corpus.reads_fastq, fastq_fitting, 2), fitting);
    EXPECT_HX_ERROR(
        tmkit::run_feature(dir, "fastq", "Length", corpus.reads_fastq, fastq_starts).result,
        "helixo:traitmark:ValueOutOfRange",
        "Value " + std::to_string(all.at(first_wide - 1)) + " of entry " +
            std::to_string(first_wide) + " does not fit 2 bytes.");
}

INSTANTIATE_TEST_SUITE_P(Minimap2, LongReadFeatures, ::testing::Bool(),
                         [](const auto& p) { return std::string(p.param ? "Eqx" : "Plain"); });

} // namespace
