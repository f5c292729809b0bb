// writesambyregion and writesamunaligned: lines checked against samtools view of the same
// region, with the containment and trimming rules applied independently from the text.
#include "bamkit.h"
#include "error_order.h"
#include "peers.h"

#include <cmath>
#include <filesystem>
#include <fstream>

using namespace testkit;

namespace {

const std::string kTwoRefs = bamkit::sam_header({{"chr1", 1000}, {"chr2", 1000}});

// chr1:100-200 holds wholly r_in1 (100..109) and r_in2 (191..200); r_out_end starts at 150
// and reaches 210; r_out_start begins at 95; r_dn ends at 200 through a deletion and a skip.
const std::string kRegionSam =
    kTwoRefs + "r_before\t0\tchr1\t50\t30\t10M\t*\t0\t0\tACGTACGTAC\tIIIIIIIIII\tNM:i:0\n"
               "r_out_start\t0\tchr1\t95\t30\t10M\t*\t0\t0\tACGTACGTAC\tIIIIIIIIII\tNM:i:0\n"
               "r_in1\t0\tchr1\t100\t30\t10M\t*\t0\t0\tACGTACGTAC\tIIIIIIIIII\tNM:i:0\tXS:Z:keep\n"
               "r_out_end\t16\tchr1\t150\t30\t5S56M\t*\t0\t0\t*\t*\tNM:i:1\n"
               "r_dn\t0\tchr1\t160\t30\t5M2D3N5I26M\t*\t0\t0\t*\t*\n"
               "r_in2\t0\tchr1\t191\t30\t2H10M\t*\t0\t0\tACGTACGTAC\tIIIIIIIIII\tRG:Z:x\n"
               "r_after\t0\tchr1\t201\t30\t10M\t*\t0\t0\tACGTACGTAC\tIIIIIIIIII\n"
               "r_chr2\t0\tchr2\t120\t30\t10M\t*\t0\t0\tACGTACGTAC\tIIIIIIIIII\n"
               "mate_unmapped\t73\tchr2\t300\t30\t10M\t=\t300\t0\tACGTACGTAC\tIIIIIIIIII\n"
               "mate_placed\t133\tchr2\t300\t0\t*\t=\t300\t0\tACGTACGTAC\tIIIIIIIIII\tXU:i:1\n"
               "u1\t4\t*\t0\t0\t*\t*\t0\t0\tACGTA\tIIIII\tXX:Z:one\n"
               "u2\t4\t*\t0\t0\t*\t*\t0\t0\tCCGTA\tIIIII\n";

class SamWriting : public ::testing::Test {
protected:
    TempDir dir;
    std::string bam = bamkit::make_bam(dir, "reads", kRegionSam);
    std::string bai = bam + ".bai";
    std::string out = dir.file("out.sam");

    hxhost::CallResult by_region(const std::string& region, double keep_optional, double filter,
                                 const hxhost::CallOptions& options = {}) {
        return call("alignport", 0,
                    args("writesambyregion", bam, bai, out, region, keep_optional, filter),
                    options);
    }
};

// The lines samtools view gives for a region, kept and cut by the services' own rules.
std::string expected_region_lines(const std::string& bam, const std::string& region, long begin,
                                  long end, bool keep_optional, bool filter) {
    std::string expected;
    for (const std::string& line : peers::lines_of(peers::samtools_view(bam, region))) {
        const std::vector<std::string> cols = peers::split(line, '\t');
        const long pos = std::stol(cols[3]) - 1;
        if (filter && (pos < begin || pos + peers::cigar_span(cols[5]) > end))
            continue;
        expected += (keep_optional ? line : peers::mandatory_columns(line)) + "\n";
    }
    return expected;
}

TEST_F(SamWriting, AppendsOnlyContainedAlignmentsCutAfterTheirQualityColumn) {
    dir.write_text("out.sam", "kept line one\nkept line two\n");
    auto r = by_region("chr1:100-200", 0, 1);
    ASSERT_TRUE(r.ok) << r.identifier << " " << r.message;
    const std::string written = read_file(out);
    EXPECT_EQ(written, "kept line one\nkept line two\n" +
                           expected_region_lines(bam, "chr1:100-200", 99, 200, false, true));
    EXPECT_NE(written.find("r_in1\t0\tchr1\t100\t30\t10M\t*\t0\t0\tACGTACGTAC\tIIIIIIIIII\n"),
              std::string::npos);
    EXPECT_NE(written.find("r_in2\t"), std::string::npos);
    EXPECT_NE(written.find("r_dn\t"), std::string::npos);
    EXPECT_EQ(written.find("r_out_end"), std::string::npos);
    EXPECT_EQ(written.find("r_out_start"), std::string::npos);
    EXPECT_EQ(written.find(":Z:"), std::string::npos);
}

TEST_F(SamWriting, WritesTheAlignmentReachingPastTheRegionWhenTheFilterIsOff) {
    auto r = by_region("chr1:100-200", 1, 0);
    ASSERT_TRUE(r.ok) << r.message;
    const std::string written = read_file(out);
    EXPECT_EQ(written, peers::samtools_view(bam, "chr1:100-200"));
    EXPECT_NE(written.find("r_out_end\t16\tchr1\t150"), std::string::npos);
    EXPECT_NE(written.find("XS:Z:keep"), std::string::npos);
}

TEST_F(SamWriting, TreatsNanFlagsAsSet) {
    auto r = by_region("chr1:100-200", std::nan(""), std::nan(""));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(read_file(out), expected_region_lines(bam, "chr1:100-200", 99, 200, true, true));
}

TEST_F(SamWriting, RegionNamingNoReferenceLeavesTheOutputAsItWas) {
    auto r = by_region("chrX:1-100", 1, 1);
    EXPECT_HX_ERROR(r, "helixo:alignport:writesambyregion:InvalidRegion", "Invalid region.");
    EXPECT_TRUE(file_exists(out));
    EXPECT_EQ(file_size(out), 0);
    dir.write_text("out.sam", "before\n");
    r = by_region("chrX", 1, 1);
    EXPECT_HX_ERROR(r, "helixo:alignport:writesambyregion:InvalidRegion", "Invalid region.");
    EXPECT_EQ(read_file(out), "before\n");
}

TEST_F(SamWriting, RegionWithBeginAfterEndWritesNothing) {
    auto r = by_region("chr1:300-200", 1, 0);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(read_file(out), "");
}

TEST_F(SamWriting, StopsAtTheInterruptSeenByTheThirdDeliveredAlignment) {
    hxhost::CallOptions options;
    options.interrupt_at = 3;
    auto r = by_region("chr1", 1, 0, options);
    EXPECT_HX_ERROR(r, "helixo:alignport:IterruptedByUser", "Operation terminated by user.");
    EXPECT_EQ(r.polls.is_pending, 3);
    EXPECT_EQ(r.polls.handle, 1);
    const std::vector<std::string> all = peers::lines_of(peers::samtools_view(bam, "chr1"));
    EXPECT_EQ(read_file(out), all[0] + "\n" + all[1] + "\n");
}

TEST_F(SamWriting, PollsOncePerDeliveredAlignment) {
    auto r = by_region("chr2", 0, 0);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.polls.is_pending, 3);
    EXPECT_EQ(r.polls.handle, 0);
}

TEST_F(SamWriting, WritesUnplacedReadsOnlyAfterExistingLines) {
    dir.write_text("out.sam", "old\n");
    auto r = call("alignport", 0, args("writesamunaligned", bam, out, 1));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(read_file(out), "old\n" + peers::samtools_view(bam, "*"));
    EXPECT_EQ(read_file(out).find("mate_placed"), std::string::npos);
}

TEST_F(SamWriting, UnplacedReadsLoseTheirOptionalFieldsWhenAsked) {
    auto r = call("alignport", 0, args("writesamunaligned", bam, out, 0));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(read_file(out), "u1\t4\t*\t0\t0\t*\t*\t0\t0\tACGTA\tIIIII\n"
                              "u2\t4\t*\t0\t0\t*\t*\t0\t0\tCCGTA\tIIIII\n");
}

TEST_F(SamWriting, UnplacedWriterPollsBeforeEveryRecordAndStopsAtPollK) {
    // One poll before the first read and one after each record: 12 records, 13 polls.
    auto r = call("alignport", 0, args("writesamunaligned", bam, out, 1));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.polls.handle, 13);
    EXPECT_EQ(r.polls.is_pending, 0);
    std::filesystem::remove(out);
    hxhost::CallOptions options;
    options.interrupt_at = 13; // seen after u1 was read and before it is written
    r = call("alignport", 0, args("writesamunaligned", bam, out, 1), options);
    EXPECT_HX_ERROR(r, "helixo:alignport:IterruptedByUser", "Operation terminated by user.");
    EXPECT_EQ(read_file(out), peers::lines_of(peers::samtools_view(bam, "*"))[0] + "\n");
}

TEST(SamWritingSeeded, RegionLinesMatchSamtoolsViewUnderEveryFlagCombination) {
    TempDir dir;
    const std::string bam = bamkit::make_bam(dir, "seeded", bamkit::generated_sam(7, 3, 400));
    const std::string out = dir.file("out.sam");
    for (int keep = 0; keep <= 1; ++keep) {
        for (int filter = 0; filter <= 1; ++filter) {
            std::filesystem::remove(out);
            auto r = call(
                "alignport", 0,
                args("writesambyregion", bam, bam + ".bai", out, "chr2:20000-45000", keep, filter));
            ASSERT_TRUE(r.ok) << r.message;
            const std::string expected = expected_region_lines(bam, "chr2:20000-45000", 19999,
                                                               45000, keep != 0, filter != 0);
            EXPECT_GT(expected.size(), 1000u);
            EXPECT_EQ(read_file(out), expected) << "keep " << keep << " filter " << filter;
        }
    }
}

TEST(SamWritingLongLines, LinesLongerThanTheLineBufferAreWrittenWhole) {
    TempDir dir;
    const std::string tag(6000, 'x');
    const std::string bam = bamkit::make_bam(
        dir, "long",
        kTwoRefs + "long1\t0\tchr1\t10\t30\t5M\t*\t0\t0\tACGTA\tIIIII\tXL:Z:" + tag + "\n" +
            "short\t0\tchr1\t12\t30\t5M\t*\t0\t0\tACGTA\tIIIII\n" +
            "long2\t4\t*\t0\t0\t*\t*\t0\t0\tACGTA\tIIIII\tXL:Z:" + tag + "y\n");
    const std::string out = dir.file("out.sam");
    auto r = call("alignport", 0, args("writesambyregion", bam, bam + ".bai", out, "chr1", 1, 1));
    ASSERT_TRUE(r.ok) << r.message;
    r = call("alignport", 0, args("writesamunaligned", bam, out, 1));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(read_file(out), peers::samtools_view(bam, "chr1") + peers::samtools_view(bam, "*"));
    EXPECT_GT(read_file(out).size(), 12000u);
}

#if defined(__linux__)
TEST_F(SamWriting, AFullDiskIsReportedAsAFailedWrite) {
    if (!file_exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    auto r = call("alignport", 0, args("writesambyregion", bam, bai, "/dev/full", "chr1", 1, 0));
    EXPECT_HX_ERROR(r, "helixo:alignport:writesambyregion:CannotWriteFile",
                    "Cannot write into output file.");
    r = call("alignport", 0, args("writesamunaligned", bam, "/dev/full", 1));
    EXPECT_HX_ERROR(r, "helixo:alignport:writesamunaligned:CannotWriteFile",
                    "Cannot write into output file.");
}

TEST(SamWritingFullDisk, AWriteFailingMidRegionStopsTheWalk) {
    if (!file_exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    const std::string bam = bamkit::make_bam(dir, "big", bamkit::generated_sam(8, 1, 3000));
    auto r = call("alignport", 0,
                  args("writesambyregion", bam, bam + ".bai", "/dev/full", "chr1", 1, 0));
    EXPECT_HX_ERROR(r, "helixo:alignport:writesambyregion:CannotWriteFile",
                    "Cannot write into output file.");
    EXPECT_GT(r.polls.is_pending, 0);
    EXPECT_LT(r.polls.is_pending, 3000);
    EXPECT_EQ(r.polls.handle, 0);
}
#endif

// A BAM whose second half is cut off, with the index of the whole file.
struct TruncatedBam {
    TempDir dir;
    std::string bam;
    std::string bai;
    TruncatedBam() {
        std::string sam = bamkit::generated_sam(11, 2, 6000);
        for (int k = 0; k < 50; ++k)
            sam += "u" + std::to_string(k) + "\t4\t*\t0\t0\t*\t*\t0\t0\tACGTA\tIIIII\n";
        const std::string whole = bamkit::make_bam(dir, "whole", sam);
        bai = whole + ".bai";
        bam = dir.file("cut.bam");
        std::filesystem::copy_file(whole, bam);
        std::filesystem::resize_file(bam, std::filesystem::file_size(whole) * 6 / 10);
    }
};

TEST(SamWritingDamagedFiles, ReadErrorsAreReportedAsACorruptedFileNotAnInterrupt) {
    TruncatedBam cut;
    const std::string out = cut.dir.file("out.sam");
    auto r = call("alignport", 0, args("writesambyregion", cut.bam, cut.bai, out, "chr2", 1, 0));
    EXPECT_HX_ERROR(r, "helixo:alignport:CorruptedBAMFile", "BAM file is corrupted.");
    r = call("alignport", 0, args("writesamunaligned", cut.bam, out, 1));
    EXPECT_HX_ERROR(r, "helixo:alignport:CorruptedBAMFile", "BAM file is corrupted.");
}

// --- error tables, in the order the services test them ---

const std::string kLong512(512, 'a');
const std::string kLong511 = "/nonexistent-folder/" + std::string(491, 'a');
const std::string kLong256(256, 'c');

TEST(SamWritingErrors, RegionWriterErrorsComeInTheOrderOfTheChecks) {
    TempDir dir;
    const std::string bam = bamkit::make_bam(dir, "e", kRegionSam);
    const std::string out = dir.file("out.sam");
    const auto in = [&](auto&&... a) {
        return args("writesambyregion", bam, bam + ".bai", std::forward<decltype(a)>(a)...);
    };
    expect_errors_in_order(
        "alignport",
        error_rows(error_row("three inputs", 0, in(out, "chr1", 1),
                             "helixo:alignport:writesambyregion:InvalidNumInputArg",
                             "writesambyregion: Invalid number of input arguments required."),
                   error_row("five inputs", 0, in(out, "chr1", 1, 1, 1),
                             "helixo:alignport:writesambyregion:InvalidNumInputArg",
                             "writesambyregion: Invalid number of input arguments required."),
                   error_row("one output before a bad name", 1, in(1, "chr1", 1, 1),
                             "helixo:alignport:writesambyregion:InvalidNumOutputArg",
                             "writesambyregion: Too many output arguments."),
                   error_row("numeric file name", 0, in(1, "chr1", 1, 1),
                             "helixo:alignport:writesambyregion:InvalidFileName",
                             "Invalid SAM file name."),
                   error_row("512-character file name", 0, in(kLong512, "chr1", 1, 1),
                             "helixo:alignport:writesambyregion:InvalidFileName",
                             "Invalid SAM file name."),
                   error_row("511 characters pass the name check", 0, in(kLong511, "chr1", 1, 1),
                             "helixo:alignport:writesambyregion:CannotOpenFile",
                             "Could not open SAM file."),
                   error_row("numeric region", 0, in(out, 1, 1, 1),
                             "helixo:alignport:writesambyregion:InvalidRefName",
                             "Invalid reference name."),
                   error_row("256-character region", 0, in(out, kLong256, 1, 1),
                             "helixo:alignport:writesambyregion:InvalidRefName",
                             "Invalid reference name."),
                   error_row("malformed region", 0, in(out, "chr1:abc", 1, 1),
                             "helixo:alignport:writesambyregion:InvalidRegion",
                             "Invalid region.")));
}

TEST(SamWritingErrors, UnplacedWriterErrorsComeInTheOrderOfTheChecks) {
    TempDir dir;
    const std::string bam = bamkit::make_bam(dir, "e", kRegionSam, false);
    const std::string out = dir.file("out.sam");
    const auto in = [&](auto&&... a) {
        return args("writesamunaligned", bam, std::forward<decltype(a)>(a)...);
    };
    expect_errors_in_order(
        "alignport",
        error_rows(error_row("one input", 0, in(out),
                             "helixo:alignport:writesamunaligned:InvalidNumInputArg",
                             "writesamunaligned: Invalid number of input arguments required."),
                   error_row("three inputs", 0, in(out, 1, 1),
                             "helixo:alignport:writesamunaligned:InvalidNumInputArg",
                             "writesamunaligned: Invalid number of input arguments required."),
                   error_row("one output", 1, in(1, 1),
                             "helixo:alignport:writesamunaligned:InvalidNumOutputArg",
                             "writesamunaligned: Too many output arguments."),
                   error_row("numeric file name", 0, in(1, 1),
                             "helixo:alignport:writesamunaligned:InvalidFileName",
                             "Invalid SAM file name."),
                   error_row("512-character file name", 0, in(kLong512, 1),
                             "helixo:alignport:writesamunaligned:InvalidFileName",
                             "Invalid SAM file name."),
                   error_row("folder that does not exist", 0, in("/nonexistent-folder/out.sam", 1),
                             "helixo:alignport:writesamunaligned:CannotOpenFile",
                             "Could not open SAM file.")));
}

} // namespace
