// baminfo and saminfo: sortedness and counts per reference, checked against samtools idxstats
// and against counts taken from the SAM text by the test itself.
#include "bamkit.h"
#include "error_order.h"
#include "peers.h"

#include <filesystem>
#include <map>

using namespace testkit;

namespace {

std::vector<double> counts_of(const hxhost::CallResult& r) {
    return hxhost::values_of<double>(r.outputs.at(1).get());
}

bool sorted_of(const hxhost::CallResult& r) {
    return hxhost::values_of<std::uint8_t>(r.outputs.at(0).get()).at(0) != 0;
}

std::vector<std::string> names_of(const hxhost::CallResult& r) {
    std::vector<std::string> names;
    const haArray* cell = r.outputs.at(2).get();
    for (haSize k = 0; k < haGetNumberOfElements(cell); ++k)
        names.push_back(hxhost::text_of(haGetCell(cell, k)));
    return names;
}

std::string placed(const std::string& name, const std::string& ref, int pos, int flag = 0) {
    return name + "\t" + std::to_string(flag) + "\t" + ref + "\t" + std::to_string(pos) +
           "\t30\t5M\t*\t0\t0\tACGTA\tIIIII\n";
}
std::string unplaced(const std::string& name) {
    return name + "\t4\t*\t0\t0\t*\t*\t0\t0\tACGTA\tIIIII\n";
}

const std::string kThreeRefs =
    bamkit::sam_header({{"chr1", 100000}, {"chr2", 100000}, {"chr3", 100000}});

// --- baminfo ------------------------------------------------------------------------------

// Seeded file with unplaced reads at its end and a placed read whose mate is unmapped.
std::string seeded_with_unplaced() {
    std::string sam = bamkit::generated_sam(3, 4, 250);
    sam += placed("unmapped_at_mate", "chr4", 104000, 4 | 1);
    for (int k = 0; k < 17; ++k)
        sam += unplaced("u" + std::to_string(k));
    return sam;
}

TEST(BamInfo, SortedFileCountsMatchSamtoolsIdxstats) {
    TempDir dir;
    const std::string bam = bamkit::make_bam(dir, "s", seeded_with_unplaced());
    auto r = call("alignport", 2, args("baminfo", bam));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(sorted_of(r));
    // idxstats: name, length, mapped, unmapped; the last line "*" counts the unplaced reads.
    std::vector<double> expected(1, 0.0);
    for (const std::string& line : peers::lines_of(peers::run("samtools idxstats " + bam))) {
        const std::vector<std::string> cols = peers::split(line, '\t');
        const double n = std::stod(cols[2]) + std::stod(cols[3]);
        if (cols[0] == "*")
            expected[0] = n;
        else
            expected.push_back(n);
    }
    EXPECT_EQ(counts_of(r), expected);
    EXPECT_EQ(expected[0], 17.0);
    EXPECT_EQ(hxhost::dims_of(r.outputs[1].get()), (std::vector<haSize>{5, 1}));
    EXPECT_EQ(r.polls.handle, 4 * 250 + 18);
}

TEST(BamInfo, RowsStopAtTheLargestReferenceMetAndHoldZeroForEmptyOnesBelowIt) {
    TempDir dir;
    const std::string bam = bamkit::make_bam(
        dir, "gaps", kThreeRefs + placed("a", "chr2", 10) + placed("b", "chr2", 20), false);
    auto r = call("alignport", 2, args("baminfo", bam));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(sorted_of(r));
    EXPECT_EQ(counts_of(r), (std::vector<double>{0, 0, 2}));
}

TEST(BamInfo, FileWithoutRecordsIsSortedWithAnEmptyColumn) {
    TempDir dir;
    // The BAM library cannot read a SAM file without alignments; samtools converts it.
    const std::string sam = dir.write_text("empty.sam", kThreeRefs);
    const std::string bam = dir.file("empty.bam");
    peers::run("samtools view -b -o " + bam + " " + sam);
    auto r = call("alignport", 2, args("baminfo", bam));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(sorted_of(r));
    EXPECT_EQ(hxhost::dims_of(r.outputs[1].get()), (std::vector<haSize>{0, 1}));
}

struct SortCase {
    const char* label;
    std::string records;
    bool sorted;
    long polls_with_one_output; // records read before the scan stops
};

std::ostream& operator<<(std::ostream& os, const SortCase& c) {
    return os << c.label;
}

class BamSortedness : public ::testing::TestWithParam<SortCase> {};

TEST_P(BamSortedness, FollowsTheRuleAndStopsEarlyOnlyWithOneOutput) {
    const SortCase& c = GetParam();
    TempDir dir;
    const std::string bam = bamkit::make_bam(dir, "x", kThreeRefs + c.records, false);
    auto one = call("alignport", 1, args("baminfo", bam));
    ASSERT_TRUE(one.ok) << one.message;
    EXPECT_EQ(sorted_of(one), c.sorted);
    EXPECT_EQ(one.polls.handle, c.polls_with_one_output);
    auto none = call("alignport", 0, args("baminfo", bam));
    ASSERT_TRUE(none.ok);
    EXPECT_EQ(none.polls.handle, c.polls_with_one_output);
    auto two = call("alignport", 2, args("baminfo", bam));
    ASSERT_TRUE(two.ok);
    EXPECT_EQ(sorted_of(two), c.sorted);
    const long records = static_cast<long>(peers::lines_of(c.records).size());
    EXPECT_EQ(two.polls.handle, records);
    double total = 0;
    for (double v : counts_of(two))
        total += v;
    EXPECT_EQ(total, static_cast<double>(records));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BamSortedness,
    ::testing::Values(SortCase{"back from reference 1 to 0",
                               placed("a", "chr1", 5) + placed("b", "chr2", 7) +
                                   placed("c", "chr1", 9) + placed("d", "chr3", 1),
                               false, 3},
                      SortCase{"first record of a reference larger than the second",
                               placed("a", "chr1", 500) + placed("b", "chr1", 100) +
                                   placed("c", "chr1", 100) + placed("d", "chr2", 9000) +
                                   placed("e", "chr2", 1),
                               true, 5},
                      SortCase{"position going back after the second record",
                               placed("a", "chr1", 10) + placed("b", "chr1", 50) +
                                   placed("c", "chr1", 40) + placed("d", "chr1", 60),
                               false, 3},
                      SortCase{"placed record after unplaced ones",
                               placed("a", "chr1", 10) + unplaced("u") + placed("b", "chr2", 50),
                               false, 3},
                      SortCase{"unplaced records in any order at the end",
                               placed("a", "chr2", 10) + unplaced("u1") + unplaced("u2"), true, 3},
                      SortCase{"a reference skipped is still ascending",
                               placed("a", "chr1", 10) + placed("b", "chr3", 10), true, 2}));

// --- saminfo ------------------------------------------------------------------------------

TEST(SamInfo, SortedFileCountsMatchIdxstatsOfTheSameText) {
    TempDir dir;
    const std::string sam = seeded_with_unplaced();
    const std::string bam = bamkit::make_bam(dir, "s", sam);
    auto r = call("alignport", 3, args("saminfo", dir.file("s.sam")));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(sorted_of(r));
    std::map<std::string, double> idx;
    for (const std::string& line : peers::lines_of(peers::run("samtools idxstats " + bam))) {
        const std::vector<std::string> cols = peers::split(line, '\t');
        idx[cols[0]] = std::stod(cols[2]) + std::stod(cols[3]);
    }
    const std::vector<std::string> names = names_of(r);
    const std::vector<double> counts = counts_of(r);
    EXPECT_EQ(names, (std::vector<std::string>{"*", "chr1", "chr2", "chr3", "chr4"}));
    ASSERT_EQ(counts.size(), names.size());
    for (std::size_t k = 0; k < names.size(); ++k)
        EXPECT_EQ(counts[k], idx[names[k]]) << names[k];
    const long lines = static_cast<long>(peers::lines_of(sam).size()) - 5; // 5 header lines
    EXPECT_EQ(r.polls.handle, lines);
}

TEST(SamInfo, NamesOutOfHeaderOrderAreSortedWhenEachStandsTogether) {
    TempDir dir;
    const std::string sam = dir.write_text(
        "o.sam", kThreeRefs + placed("a", "chr2", 5) + placed("b", "chr2", 9) +
                     placed("c", "chr1", 1) + placed("d", "chr1", 3) + unplaced("u"));
    auto r = call("alignport", 3, args("saminfo", sam));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(sorted_of(r));
    EXPECT_EQ(names_of(r), (std::vector<std::string>{"*", "chr2", "chr1"}));
    EXPECT_EQ(counts_of(r), (std::vector<double>{1, 2, 2}));
}

TEST(SamInfo, ANameComingBackMakesTheFileUnsortedAndOneOutputStopsThere) {
    TempDir dir;
    const std::string sam = dir.write_text(
        "b.sam", kThreeRefs + placed("a", "chr2", 5) + placed("b", "chr1", 9) +
                     placed("c", "chr2", 10) + placed("d", "chr3", 3) + placed("e", "chr3", 4));
    auto one = call("alignport", 1, args("saminfo", sam));
    ASSERT_TRUE(one.ok);
    EXPECT_FALSE(sorted_of(one));
    EXPECT_EQ(one.polls.handle, 3);
    auto three = call("alignport", 3, args("saminfo", sam));
    ASSERT_TRUE(three.ok);
    EXPECT_FALSE(sorted_of(three));
    EXPECT_EQ(three.polls.handle, 5);
    EXPECT_EQ(counts_of(three), (std::vector<double>{0, 2, 1, 2}));
}

TEST(SamInfo, HeaderOnlyFileGivesOneZeroRowNamedStar) {
    TempDir dir;
    const std::string sam = dir.write_text("h.sam", kThreeRefs);
    auto r = call("alignport", 3, args("saminfo", sam));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(sorted_of(r));
    EXPECT_EQ(counts_of(r), (std::vector<double>{0}));
    EXPECT_EQ(names_of(r), (std::vector<std::string>{"*"}));
    EXPECT_EQ(r.polls.handle, 0);
}

TEST(SamInfo, ThreeHundredNamesGiveTwoHundredFiftySixRows) {
    TempDir dir;
    std::string text;
    for (int k = 1; k <= 300; ++k) {
        for (int j = 0; j <= k % 3; ++j)
            text += placed("r" + std::to_string(k) + "_" + std::to_string(j),
                           "ref" + std::to_string(k), 10 * k + j);
    }
    const std::string sam = dir.write_text("many.sam", text);
    auto r = call("alignport", 3, args("saminfo", sam));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(sorted_of(r));
    const std::vector<std::string> names = names_of(r);
    const std::vector<double> counts = counts_of(r);
    ASSERT_EQ(names.size(), 256u);
    ASSERT_EQ(counts.size(), 256u);
    EXPECT_EQ(names[1], "ref1");
    EXPECT_EQ(names[255], "ref255");
    double last_slot = 0;
    for (int k = 255; k <= 300; ++k)
        last_slot += k % 3 + 1;
    EXPECT_EQ(counts[255], last_slot);
    EXPECT_EQ(counts[254], 254 % 3 + 1);
}

TEST(SamInfo, LongReferenceNamesAreComparedWhole) {
    TempDir dir;
    const std::string stem(1500, 'n');
    const std::string sam =
        dir.write_text("long.sam", placed("a", stem + "A", 1) + placed("b", stem + "A", 2) +
                                       placed("c", stem + "B", 1));
    auto r = call("alignport", 3, args("saminfo", sam));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(names_of(r), (std::vector<std::string>{"*", stem + "A", stem + "B"}));
    EXPECT_EQ(counts_of(r), (std::vector<double>{0, 2, 1}));
}

// A line is one line whatever its length: polled once, scanned once. Lines longer than the
// part the reader keeps (1 MiB) are passed over past it.
TEST(SamInfo, LinesOfAnyLengthAreOneLineEach) {
    for (const std::size_t bases : {std::size_t{5000}, std::size_t{700000}, std::size_t{1} << 21}) {
        TempDir dir;
        const std::string sam = dir.write_text(
            "long.sam", "@HD\tVN:1.0\n" + placed("a", "chr1", 1) + "b\t0\tchr1\t5\t30\t" +
                            std::to_string(bases) + "M\t*\t0\t0\t" + std::string(bases, 'A') +
                            "\t" + std::string(bases, 'I') + "\n" + placed("c", "chr1", 9) +
                            placed("d", "chr2", 1));
        auto r = call("alignport", 2, args("saminfo", sam));
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_TRUE(sorted_of(r)) << bases;
        EXPECT_EQ(counts_of(r), (std::vector<double>{0, 3, 1})) << bases;
        EXPECT_EQ(r.polls.handle, 4) << bases;
    }
}

// Header lines of every length around the old 4,094-character read limit, and far beyond it.
TEST(SamInfo, LongHeaderLinesAreHeaderLines) {
    for (const std::size_t length : {std::size_t{4094}, std::size_t{4095}, std::size_t{4096},
                                     std::size_t{4098}, std::size_t{3} << 20}) {
        TempDir dir;
        const std::string pg = "@PG\tID:aligner\tCL:" + std::string(length - 18, 'x');
        ASSERT_EQ(pg.size(), length);
        const std::string sam =
            dir.write_text("pg.sam", "@HD\tVN:1.0\n" + pg + "\n" + placed("a", "chr1", 1) +
                                         placed("b", "chr1", 2));
        auto r = call("alignport", 2, args("saminfo", sam));
        ASSERT_TRUE(r.ok) << length << " " << r.message;
        EXPECT_EQ(counts_of(r), (std::vector<double>{0, 2})) << length;
        EXPECT_EQ(r.polls.handle, 2) << length;
    }
}

// Header skip: (file text, corrupted?, count of chr1 lines).
struct HeaderCase {
    const char* label;
    std::string text;
    bool corrupted;
    double chr1;
};

std::ostream& operator<<(std::ostream& os, const HeaderCase& c) {
    return os << c.label;
}

class SamHeaderSkip : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(SamHeaderSkip, FollowsTheSkipRules) {
    const HeaderCase& c = GetParam();
    TempDir dir;
    const std::string sam = dir.write_text("h.sam", c.text);
    auto r = call("alignport", 2, args("saminfo", sam));
    if (c.corrupted) {
        EXPECT_HX_ERROR(r, "helixo:alignport:CorruptedSAMFile", "SAM file is corrupted.");
        return;
    }
    ASSERT_TRUE(r.ok) << r.message;
    const std::vector<double> expected =
        c.chr1 > 0 ? std::vector<double>{0, c.chr1} : std::vector<double>{0};
    EXPECT_EQ(counts_of(r), expected);
}

const std::string kA = placed("a", "chr1", 10);
const std::string kB = placed("b", "chr1", 20);

INSTANTIATE_TEST_SUITE_P(
    Cases, SamHeaderSkip,
    ::testing::Values(
        HeaderCase{"no header at all", kA + kB, false, 2},
        HeaderCase{"at sign and three letters with a line feed is damage", "@HD\n" + kA, true, 0},
        HeaderCase{"at sign and four letters with a line feed is a header line", "@HDR\n" + kA,
                   false, 1},
        HeaderCase{"short line after leading spaces", "   @CO\n" + kA, true, 0},
        HeaderCase{"short line that is not a header line", "ab\n" + kA, true, 0},
        HeaderCase{"short header line with a carriage return is five characters", "@HD\r\n" + kA,
                   false, 1},
        HeaderCase{"blank lines before and inside the header",
                   "\n   \n\r\n@HD\tVN:1.0\n\n@SQ\tSN:chr1\tLN:100\n" + kA + kB, false, 2},
        HeaderCase{"blank lines between header and alignments", "@HD\tVN:1.0\n\n\n" + kA, false, 1},
        HeaderCase{"header lines later in the file are passed over",
                   "@HD\tVN:1.0\n" + kA + "@CO\tlate comment\nab\n" + kB, false, 2},
        HeaderCase{"header line at the end without a line feed", "@HD\tVN:1.0\n@CO\tnothing else",
                   false, 0},
        HeaderCase{"last line without a line feed",
                   "@HD\tVN:1.0\n" + kA + kB.substr(0, kB.size() - 1), false, 2},
        HeaderCase{"unscannable position is passed over",
                   "@HD\tVN:1.0\n" + kA + "c\t0\tchr1\tx\t30\n", false, 1}));

TEST(SamInfo, CountsUnsignedPositionsAndSignedFlagsAsTheScanFormatReadsThem) {
    TempDir dir;
    const std::string sam =
        dir.write_text("f.sam", "q\t+3\tchr1\t-4\nq\t-1\tchr1\t+7\nq\tx3\tchr1\t9\nq 3 chr1 12\n");
    auto r = call("alignport", 2, args("saminfo", sam));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(sorted_of(r));
    EXPECT_EQ(counts_of(r), (std::vector<double>{0, 3}));
}

// --- error tables ---

const std::string k512(512, 'f');

// baminfo's rows and saminfo's: each service's rows come in its check order.
TEST(SummaryErrors, ComeInTheOrderOfTheChecksWithNothingLeftOpen) {
    TempDir dir;
    bamkit::make_bam(dir, "ok", kThreeRefs + placed("a", "chr1", 1), false);
    dir.write_text("short.sam", "@HD\tVN:1.0\n@SQ\n" + placed("a", "chr1", 1));
    const std::string ok_bam = dir.file("ok.bam");
    const std::string ok_sam = dir.file("ok.sam");
    const std::string folder = dir.file("");
    expect_errors_in_order(
        "alignport",
        error_rows(error_row("baminfo with two inputs", 1, args("baminfo", ok_bam, 3),
                             "helixo:alignport:baminfo:InvalidNumInputArg",
                             "baminfo: Invalid number of input arguments required."),
                   error_row("baminfo with three outputs", 3, args("baminfo", 3),
                             "helixo:alignport:baminfo:InvalidNumOutputArg",
                             "baminfo: Too many output arguments."),
                   error_row("baminfo numeric name", 2, args("baminfo", 3),
                             "helixo:alignport:InvalidFileName", "Invalid BAM file name."),
                   error_row("baminfo 512-character name", 2, args("baminfo", k512),
                             "helixo:alignport:InvalidFileName", "Invalid BAM file name."),
                   error_row("baminfo missing file", 2, args("baminfo", dir.file("none.bam")),
                             "helixo:alignport:CannotOpenInFile", "Could not open BAM file."),
                   error_row("baminfo on SAM text", 2, args("baminfo", ok_sam),
                             "helixo:alignport:CannotOpenInFile", "Could not open BAM file."),
                   error_row("saminfo with two inputs", 1, args("saminfo", ok_sam, 3),
                             "helixo:alignport:saminfo:InvalidNumInputArg",
                             "saminfo: Invalid number of input arguments required."),
                   error_row("saminfo with four outputs", 4, args("saminfo", 3),
                             "helixo:alignport:saminfo:InvalidNumOutputArg",
                             "saminfo: Too many output arguments."),
                   error_row("saminfo numeric name", 3, args("saminfo", 3),
                             "helixo:alignport:InvalidFileName", "Invalid SAM file name."),
                   error_row("saminfo 512-character name", 3, args("saminfo", k512),
                             "helixo:alignport:InvalidFileName", "Invalid SAM file name."),
                   error_row("saminfo missing file", 3, args("saminfo", dir.file("none.sam")),
                             "helixo:alignport:CannotOpenInFile", "Could not open SAM file."),
                   error_row("saminfo on a folder", 3, args("saminfo", folder),
                             "helixo:alignport:CannotOpenInFile", "Could not open SAM file."),
                   error_row("baminfo on a folder", 2, args("baminfo", folder),
                             "helixo:alignport:CannotOpenInFile", "Could not open BAM file."),
                   error_row("saminfo short header line", 3, args("saminfo", dir.file("short.sam")),
                             "helixo:alignport:CorruptedSAMFile", "SAM file is corrupted.")));
}

TEST(SummaryInterrupts, BothStopAtPollKWithTheFileClosed) {
    TempDir dir;
    const std::string bam = bamkit::make_bam(dir, "i", bamkit::generated_sam(5, 2, 20), false);
    hxhost::CallOptions options;
    options.interrupt_at = 7;
    auto r = call("alignport", 2, args("baminfo", bam), options);
    EXPECT_HX_ERROR(r, "helixo:alignport:IterruptedByUser", "Operation terminated by user.");
    EXPECT_EQ(r.polls.handle, 7);
    r = call("alignport", 3, args("saminfo", dir.file("i.sam")), options);
    EXPECT_HX_ERROR(r, "helixo:alignport:IterruptedByUser", "Operation terminated by user.");
    EXPECT_EQ(r.polls.handle, 7);
}

TEST(SummaryDamage, TruncatedBamIsCorruptedNotAnEarlyEnd) {
    TempDir dir;
    const std::string whole = bamkit::make_bam(dir, "w", bamkit::generated_sam(9, 2, 6000), false);
    const std::string cut = dir.file("cut.bam");
    std::filesystem::copy_file(whole, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(whole) / 2);
    auto r = call("alignport", 2, args("baminfo", cut));
    EXPECT_HX_ERROR(r, "helixo:alignport:CorruptedBAMFile", "BAM file is corrupted.");
}

} // namespace
