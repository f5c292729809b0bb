// dumpinfobyregion, dumpinfobyindex and dumpinfoinrefbyindex: the printed text, exactly.
#include "bamkit.h"
#include "error_order.h"
#include "peers.h"

#include <cmath>
#include <filesystem>
#include <utility>

using namespace testkit;

namespace {

const std::string kHeader = bamkit::sam_header({{"chr1", 1000}, {"chr2", 1000}, {"chr3", 1000}});

std::string rec(const std::string& name, const std::string& ref, int pos,
                const std::string& cigar = "5M", const std::string& tail = "") {
    return name + "\t0\t" + ref + "\t" + std::to_string(pos) + "\t30\t" + cigar +
           "\t*\t0\t0\tACGTA\tIIIII" + tail + "\n";
}

// Records 7, 8 and 9 share position 160; record 10 is the last of chr1, 11 the first of chr2.
const std::string kRecords =
    rec("r1", "chr1", 10, "5M", "\tNM:i:0") + rec("r2", "chr1", 20) + rec("r3", "chr1", 100) +
    rec("r4", "chr1", 120) + rec("r5", "chr1", 140) + rec("r6", "chr1", 150) +
    rec("r7", "chr1", 160) + rec("r8", "chr1", 160) + rec("r9", "chr1", 160, "5M", "\tXA:Z:nine") +
    rec("r10", "chr1", 199) + rec("s1", "chr2", 20) + rec("s2", "chr2", 40) +
    "u1\t4\t*\t0\t0\t*\t*\t0\t0\tACGTA\tIIIII\n" + "u2\t4\t*\t0\t0\t*\t*\t0\t0\tACGTA\tIIIII\n";

class Dumps : public ::testing::Test {
protected:
    void SetUp() override { hxhost::capture_console(true); }
    void TearDown() override { hxhost::capture_console(false); }

    // Calls SERVICE on bam with the extra inputs; returns what it printed.
    template <class... A>
    std::string dump(hxhost::CallResult* result, const std::string& service, A&&... a) {
        *result = call("alignport", 0, args(service, bam, bam + ".bai", std::forward<A>(a)...));
        return hxhost::take_console();
    }
    // SAM line of record k (1-based, file order), as samtools prints it.
    std::string line(std::size_t k) const { return view.at(k - 1) + "\n"; }

    TempDir dir;
    std::string bam = bamkit::make_bam(dir, "d", kHeader + kRecords);
    std::vector<std::string> view = peers::lines_of(peers::samtools_view(bam));
};

TEST_F(Dumps, RegionDumpPrintsTheHeaderTextThenTheRegionLineThenWholeLines) {
    hxhost::CallResult r;
    const std::string printed = dump(&r, "dumpinfobyregion", "chr1:100-200");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(printed, kHeader + " dumpinfobyregion: [ref,beg,end] ->0\t99\t200\n" +
                           peers::samtools_view(bam, "chr1:100-200"));
    EXPECT_NE(printed.find("XA:Z:nine"), std::string::npos);
}

TEST_F(Dumps, RegionDumpOfASecondReferenceNamesItsIndex) {
    hxhost::CallResult r;
    const std::string printed = dump(&r, "dumpinfobyregion", "chr2");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(printed, kHeader + " dumpinfobyregion: [ref,beg,end] ->1\t0\t536870912\n" + line(11) +
                           line(12));
}

TEST_F(Dumps, RegionDumpWithBeginAfterEndPrintsOnlyTheHeading) {
    hxhost::CallResult r;
    const std::string printed = dump(&r, "dumpinfobyregion", "chr1:300-200");
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(printed, kHeader + " dumpinfobyregion: [ref,beg,end] ->0\t299\t200\n");
}

TEST_F(Dumps, IndexDumpOfTheThirdOfThreeRecordsAtOnePositionPrintsThatRecordOnly) {
    hxhost::CallResult r;
    const std::string printed = dump(&r, "dumpinfobyindex", 9, 9);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(printed, " alignport:dumpinfobyindex chr1\n [8,8] -> [159,159] \n" + line(9));
}

TEST_F(Dumps, IndexDumpPrintsExactlyTheRecordsOfTheRange) {
    hxhost::CallResult r;
    EXPECT_EQ(dump(&r, "dumpinfobyindex", 8, 10),
              " alignport:dumpinfobyindex chr1\n [7,9] -> [159,198] \n" + line(8) + line(9) +
                  line(10));
    EXPECT_EQ(dump(&r, "dumpinfobyindex", 11.9, 12.2),
              " alignport:dumpinfobyindex chr2\n [10,11] -> [19,39] \n" + line(11) + line(12));
    EXPECT_EQ(dump(&r, "dumpinfobyindex", 1, 1),
              " alignport:dumpinfobyindex chr1\n [0,0] -> [9,9] \n" + line(1));
}

TEST_F(Dumps, InReferenceDumpCountsAlignmentsFromOneAndReferencesFromZero) {
    hxhost::CallResult r;
    EXPECT_EQ(dump(&r, "dumpinfoinrefbyindex", 0, 1, 1),
              " alignport:dumpinfoinrefbyindex chr1\n [0,0] -> [9,9] \n" + line(1));
    EXPECT_EQ(dump(&r, "dumpinfoinrefbyindex", 0, 9, 9),
              " alignport:dumpinfoinrefbyindex chr1\n [8,8] -> [159,159] \n" + line(9));
    EXPECT_EQ(dump(&r, "dumpinfoinrefbyindex", 1, 2, 2),
              " alignport:dumpinfoinrefbyindex chr2\n [1,1] -> [39,39] \n" + line(12));
    ASSERT_TRUE(r.ok) << r.message;
}

TEST_F(Dumps, DumpsNeverPoll) {
    hxhost::CallOptions options;
    options.interrupt_at = 1;
    auto r = call("alignport", 0, args("dumpinfobyindex", bam, bam + ".bai", 1, 10), options);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.polls.is_pending + r.polls.handle, 0);
    EXPECT_EQ(peers::lines_of(hxhost::take_console()).size(), 12u);
    hxhost::clear_interrupt();
}

// --- ranges that name no reference ---

// A range error prints nothing: not even the heading of the dump.
const RowChecks kNothingPrinted = {
    {}, [](const hxhost::CallResult&) { EXPECT_EQ(hxhost::take_console(), ""); }};

TEST_F(Dumps, IndexDumpRangesThatNameNoReferenceAreRejectedWithNothingPrinted) {
    const auto in = [&](double first, double last) {
        return args("dumpinfobyindex", bam, bam + ".bai", first, last);
    };
    const char* const kInvalid = "helixo:alignport:dumpinfobyindex:InvalidIndices";
    expect_errors_in_order(
        "alignport",
        error_rows(error_row("first after last", 0, in(5, 3), kInvalid,
                             "dumpinfobyindex: Invalid indices."),
                   error_row("first 0", 0, in(0, 1), kInvalid, "dumpinfobyindex: Invalid indices."),
                   error_row("first and last 0", 0, in(0, 0), kInvalid,
                             "dumpinfobyindex: Invalid indices."),
                   error_row("NaN first", 0, in(std::nan(""), 2), kInvalid,
                             "dumpinfobyindex: Invalid indices."),
                   error_row("last beyond the records", 0, in(13, 15), kInvalid,
                             "dumpinfobyindex: Invalid indices."),
                   error_row("last record of one reference and first of the next", 0, in(10, 11),
                             kInvalid, "dumpinfobyindex: Indices span multiple references."),
                   error_row("range reaching the unplaced records", 0, in(12, 13), kInvalid,
                             "dumpinfobyindex: Indices span multiple references."),
                   error_row("range within the unplaced records", 0, in(13, 14), kInvalid,
                             "dumpinfobyindex: Indices do not name a reference.")),
        kNothingPrinted);
}

TEST_F(Dumps, InReferenceRangesOutsideTheAlignmentsAreRejectedWithNothingPrinted) {
    const auto in = [&](double first, double last) {
        return args("dumpinfoinrefbyindex", bam, bam + ".bai", 0, first, last);
    };
    const char* const kInvalid = "helixo:alignport:dumpinfoinrefbyindex:InvalidIndices";
    expect_errors_in_order(
        "alignport",
        error_rows(
            error_row("first after last", 0, in(5, 3), kInvalid,
                      "dumpinfoinrefbyindex: Invalid indices."),
            error_row("first 0", 0, in(0, 1), kInvalid, "dumpinfoinrefbyindex: Invalid indices."),
            error_row("last beyond the alignments", 0, in(9, 11), kInvalid,
                      "dumpinfoinrefbyindex: Invalid indices."),
            error_row("most negative first", 0, in(-2147483648.0, 1), kInvalid,
                      "dumpinfoinrefbyindex: Invalid indices.")),
        kNothingPrinted);
}

TEST_F(Dumps, InReferenceDumpRejectsReferenceNumbersOutsideTheHeader) {
    for (double ref : {-1.0, 3.0, std::nan("")}) {
        hxhost::CallResult r;
        const std::string printed = dump(&r, "dumpinfoinrefbyindex", ref, 1, 1);
        EXPECT_HX_ERROR(r, "helixo:alignport:dumpinfoinrefbyindex:InvalidReference",
                        "dumpinfoinrefbyindex: Invalid reference number.");
        EXPECT_EQ(printed, "");
    }
    hxhost::CallResult r;
    dump(&r, "dumpinfoinrefbyindex", 2, 1, 1); // chr3 holds nothing: any range is invalid
    EXPECT_HX_ERROR(r, "helixo:alignport:dumpinfoinrefbyindex:InvalidIndices",
                    "dumpinfoinrefbyindex: Invalid indices.");
}

// --- the mended window and duplicate count ---

TEST(DumpWindows, AnAlignmentCoveringNoBaseAtTheWindowStartIsCountedAndPrinted) {
    hxhost::capture_console(true);
    TempDir dir;
    // z1 covers no reference base; without the base before the window it is never delivered,
    // and the skip count would pass over z2 instead.
    const std::string bam =
        bamkit::make_bam(dir, "z",
                         kHeader + rec("z0", "chr1", 40) + rec("z1", "chr1", 50, "5I") +
                             rec("z2", "chr1", 50) + rec("z3", "chr1", 60));
    const std::vector<std::string> view = peers::lines_of(peers::samtools_view(bam));
    auto r = call("alignport", 0, args("dumpinfobyindex", bam, bam + ".bai", 3, 3));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(hxhost::take_console(),
              " alignport:dumpinfobyindex chr1\n [2,2] -> [49,49] \n" + view[2] + "\n");
    r = call("alignport", 0, args("dumpinfobyindex", bam, bam + ".bai", 2, 2));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(hxhost::take_console(),
              " alignport:dumpinfobyindex chr1\n [1,1] -> [49,49] \n" + view[1] + "\n");
    r = call("alignport", 0, args("dumpinfoinrefbyindex", bam, bam + ".bai", 0, 2, 3));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(hxhost::take_console(), " alignport:dumpinfoinrefbyindex chr1\n [1,2] -> [49,49] \n" +
                                          view[1] + "\n" + view[2] + "\n");
    hxhost::capture_console(false);
}

TEST(DumpWindows, RecordsOfThePreviousReferenceAtTheSamePositionAreNotSkipped) {
    hxhost::capture_console(true);
    TempDir dir;
    const std::string bam =
        bamkit::make_bam(dir, "p", kHeader + rec("a", "chr1", 20) + rec("b", "chr2", 20));
    auto r = call("alignport", 0, args("dumpinfobyindex", bam, bam + ".bai", 2, 2));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(hxhost::take_console(), " alignport:dumpinfobyindex chr2\n [1,1] -> [19,19] \n" +
                                          peers::samtools_view(bam, "chr2"));
    hxhost::capture_console(false);
}

TEST(DumpWindows, RunsShiftedByAReferenceWithoutRecordsNameNoReference) {
    hxhost::capture_console(true);
    TempDir dir;
    const std::string bam =
        bamkit::make_bam(dir, "g", kHeader + rec("a", "chr1", 20) + rec("c", "chr3", 20));
    auto r = call("alignport", 0, args("dumpinfobyindex", bam, bam + ".bai", 2, 2));
    EXPECT_HX_ERROR(r, "helixo:alignport:dumpinfobyindex:InvalidIndices",
                    "dumpinfobyindex: Indices do not name a reference.");
    EXPECT_EQ(hxhost::take_console(), "");
    r = call("alignport", 0, args("dumpinfobyindex", bam, bam + ".bai", 1, 1));
    EXPECT_TRUE(r.ok);
    hxhost::capture_console(false);
}

TEST(DumpWindows, SeededRangesPrintTheSameRecordsAsSamtools) {
    hxhost::capture_console(true);
    TempDir dir;
    // Short references and many reads: plenty of records share a position.
    std::string sam = bamkit::sam_header({{"chr1", 400}, {"chr2", 400}});
    std::vector<std::string> lines = peers::lines_of(bamkit::generated_sam(21, 2, 300, 20));
    for (const std::string& l : lines) {
        if (l[0] == '@')
            continue;
        std::vector<std::string> cols = peers::split(l, '\t');
        cols[3] = std::to_string(1 + std::stol(cols[3]) / 400); // squeeze into 250 positions
        std::string joined;
        for (std::size_t k = 0; k < cols.size(); ++k)
            joined += (k ? "\t" : "") + cols[k];
        sam += joined + "\n";
    }
    const std::string bam = bamkit::make_bam(dir, "seeded", sam);
    const std::vector<std::string> view = peers::lines_of(peers::samtools_view(bam));
    ASSERT_EQ(view.size(), 600u);
    for (int first : {1, 2, 57, 133, 299, 301, 302, 450, 600}) {
        for (int count : {1, 2, 5}) {
            const int last = first + count - 1;
            if (last > 600 || (first <= 300 && last > 300))
                continue;
            auto r = call("alignport", 0, args("dumpinfobyindex", bam, bam + ".bai", first, last));
            ASSERT_TRUE(r.ok) << r.message;
            std::vector<std::string> printed = peers::lines_of(hxhost::take_console());
            ASSERT_EQ(printed.size(), static_cast<std::size_t>(count + 2));
            for (int k = 0; k < count; ++k)
                EXPECT_EQ(printed[static_cast<std::size_t>(k + 2)],
                          view[static_cast<std::size_t>(first - 1 + k)])
                    << first << ".." << last;
            const int ref = first <= 300 ? 0 : 1;
            const int base = ref * 300;
            r = call(
                "alignport", 0,
                args("dumpinfoinrefbyindex", bam, bam + ".bai", ref, first - base, last - base));
            ASSERT_TRUE(r.ok) << r.message;
            printed = peers::lines_of(hxhost::take_console());
            ASSERT_EQ(printed.size(), static_cast<std::size_t>(count + 2));
            for (int k = 0; k < count; ++k)
                EXPECT_EQ(printed[static_cast<std::size_t>(k + 2)],
                          view[static_cast<std::size_t>(first - 1 + k)]);
        }
    }
    hxhost::capture_console(false);
}

TEST(DumpWindows, LinesLongerThanTheLineBufferArePrintedWhole) {
    hxhost::capture_console(true);
    TempDir dir;
    const std::string bam =
        bamkit::make_bam(dir, "long",
                         kHeader + rec("l1", "chr1", 10, "5M", "\tXL:Z:" + std::string(7000, 'q')) +
                             rec("l2", "chr1", 12));
    auto r = call("alignport", 0, args("dumpinfobyindex", bam, bam + ".bai", 1, 2));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(hxhost::take_console(),
              " alignport:dumpinfobyindex chr1\n [0,1] -> [9,11] \n" + peers::samtools_view(bam));
    hxhost::capture_console(false);
}

TEST(DumpDamage, TruncatedBamIsReportedAsCorrupted) {
    hxhost::capture_console(true);
    TempDir dir;
    const std::string whole = bamkit::make_bam(dir, "w", bamkit::generated_sam(13, 2, 6000));
    const std::string cut = dir.file("cut.bam");
    std::filesystem::copy_file(whole, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(whole) * 6 / 10);
    const std::string bai = whole + ".bai";
    auto r = call("alignport", 0, args("dumpinfobyindex", cut, bai, 1, 1));
    EXPECT_HX_ERROR(r, "helixo:alignport:CorruptedBAMFile", "BAM file is corrupted.");
    r = call("alignport", 0, args("dumpinfoinrefbyindex", cut, bai, 1, 1, 1));
    EXPECT_HX_ERROR(r, "helixo:alignport:CorruptedBAMFile", "BAM file is corrupted.");
    r = call("alignport", 0, args("dumpinfobyregion", cut, bai, "chr2"));
    EXPECT_HX_ERROR(r, "helixo:alignport:CorruptedBAMFile", "BAM file is corrupted.");
    hxhost::capture_console(false);
}

// --- error tables, in the order the services test them ---

// The three services' tables one after the other: each service's rows in its check order.
TEST_F(Dumps, ErrorsComeInTheOrderOfTheChecksWithNothingPrinted) {
    const auto in = [&](const char* service, auto&&... a) {
        return args(service, bam, bam + ".bai", std::forward<decltype(a)>(a)...);
    };
    expect_errors_in_order(
        "alignport",
        error_rows(
            error_row("dumpinfobyregion without inputs", 0, in("dumpinfobyregion"),
                      "helixo:alignport:dumpinfobyregion:InvalidNumInputArg",
                      "dumpinfobyregion: Invalid number of input arguments required."),
            error_row("dumpinfobyregion with one input too many", 0,
                      in("dumpinfobyregion", "chr1", 1),
                      "helixo:alignport:dumpinfobyregion:InvalidNumInputArg",
                      "dumpinfobyregion: Invalid number of input arguments required."),
            error_row("dumpinfobyregion with one output", 1, in("dumpinfobyregion", 1),
                      "helixo:alignport:dumpinfobyregion:InvalidNumOutputArg",
                      "dumpinfobyregion: Too many output arguments."),
            error_row("dumpinfobyregion numeric region", 0, in("dumpinfobyregion", 1),
                      "helixo:alignport:InvalidRefName", "Invalid reference name."),
            error_row("dumpinfobyregion 256-character region", 0,
                      in("dumpinfobyregion", std::string(256, 'c')),
                      "helixo:alignport:InvalidRefName", "Invalid reference name."),
            error_row("dumpinfobyregion unknown reference", 0, in("dumpinfobyregion", "chrX:1-5"),
                      "helixo:alignport:InvalidRegion", "Invalid region."),
            error_row("dumpinfobyindex without inputs", 0, in("dumpinfobyindex"),
                      "helixo:alignport:dumpinfobyindex:InvalidNumInputArg",
                      "dumpinfobyindex: Invalid number of input arguments required."),
            error_row("dumpinfobyindex with one input too many", 0, in("dumpinfobyindex", 1, 1, 1),
                      "helixo:alignport:dumpinfobyindex:InvalidNumInputArg",
                      "dumpinfobyindex: Invalid number of input arguments required."),
            error_row("dumpinfobyindex with one output", 1, in("dumpinfobyindex", 1, 1),
                      "helixo:alignport:dumpinfobyindex:InvalidNumOutputArg",
                      "dumpinfobyindex: Too many output arguments."),
            error_row("dumpinfoinrefbyindex without inputs", 0, in("dumpinfoinrefbyindex"),
                      "helixo:alignport:dumpinfoinrefbyindex:InvalidNumInputArg",
                      "dumpinfoinrefbyindex: Invalid number of input arguments required."),
            error_row("dumpinfoinrefbyindex with one input too many", 0,
                      in("dumpinfoinrefbyindex", 1, 1, 1, 1),
                      "helixo:alignport:dumpinfoinrefbyindex:InvalidNumInputArg",
                      "dumpinfoinrefbyindex: Invalid number of input arguments required."),
            error_row("dumpinfoinrefbyindex with one output", 1,
                      in("dumpinfoinrefbyindex", 1, 1, 1),
                      "helixo:alignport:dumpinfoinrefbyindex:InvalidNumOutputArg",
                      "dumpinfoinrefbyindex: Too many output arguments.")),
        kNothingPrinted);
}

} // namespace
