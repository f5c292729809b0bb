#include "bamkit.h"
#include "damaged_bam.h"
#include "error_order.h"
#include "peers.h"
#include "starts_cursor.h"

#include <samtools/sam.h>

#include <cmath>
#include <cstdlib>
#include <sstream>

using namespace testkit;

namespace {

std::string bases(int n) {
    static const char kBases[] = "ACGT";
    std::string s;
    for (int i = 0; i < n; ++i)
        s.push_back(kBases[(i * 7 + 3) % 4]);
    return s;
}

// chrA: one alignment of 50M3D20M at 0-based 99, one without CIGAR (unmapped, placed), one
// whose CIGAR covers no reference base, and a plain one. chrB has no alignments.
std::string starts_sam() {
    return bamkit::sam_header({{"chrA", 1000}, {"chrB", 1000}, {"chrC", 500}}) +
           "s1\t0\tchrA\t100\t30\t50M3D20M\t*\t0\t0\t" + bases(70) + "\t*\n" +
           "s2\t4\tchrA\t120\t0\t*\t*\t0\t0\t" + bases(6) + "\t*\n" +
           "s3\t16\tchrA\t150\t30\t3S2I\t*\t0\t0\t" + bases(5) + "\t*\n" +
           "s4\t1\tchrA\t200\t30\t5M\t*\t0\t0\t" + bases(5) + "\t*\n" +
           "c1\t0\tchrC\t10\t30\t5M\t*\t0\t0\t" + bases(5) + "\t*\n" +
           "u1\t4\t*\t0\t0\t*\t*\t0\t0\t" + bases(4) + "\t*\n";
}

class Starts : public ::testing::Test {
protected:
    TempDir dir;
    std::string bam = bamkit::make_bam(dir, "starts", starts_sam());

    hxhost::CallResult starts(int nout, double ref, const hxhost::CallOptions& options = {}) {
        return call("alignport", nout, args("getstartsinref", bam, bam + ".bai", ref), options);
    }
};

template <class T> std::vector<T> values(const hxhost::CallResult& r, std::size_t k) {
    return hxhost::values_of<T>(r.outputs.at(k).get());
}

TEST_F(Starts, ReturnsStartsEndsAndFlagsInAlignmentOrder) {
    auto r = starts(3, 0);
    ASSERT_TRUE(r.ok) << r.identifier << " " << r.message;
    ASSERT_EQ(r.outputs.size(), 3u);
    EXPECT_EQ(haGetClassID(r.outputs[0].get()), haUINT32_CLASS);
    EXPECT_EQ(haGetClassID(r.outputs[1].get()), haUINT32_CLASS);
    EXPECT_EQ(haGetClassID(r.outputs[2].get()), haUINT16_CLASS);
    for (const auto& out : r.outputs)
        EXPECT_EQ(hxhost::dims_of(out.get()), (std::vector<haSize>{4, 1}));
    EXPECT_EQ(values<std::uint32_t>(r, 0), (std::vector<std::uint32_t>{100, 120, 150, 200}));
    // 99 + 50 + 3 + 20; no CIGAR gives the start; a CIGAR without reference bases start - 1.
    EXPECT_EQ(values<std::uint32_t>(r, 1), (std::vector<std::uint32_t>{172, 120, 149, 204}));
    EXPECT_EQ(values<std::uint16_t>(r, 2), (std::vector<std::uint16_t>{0, 4, 16, 1}));
}

TEST_F(Starts, PollsOnceForEveryAlignment) {
    auto r = starts(3, 0);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.polls.is_pending, 4);
    EXPECT_EQ(r.polls.handle, 0);
}

TEST_F(Starts, StartsAndEndsAloneLeaveTheFlagsOut) {
    auto r = starts(2, 0);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.outputs.size(), 2u);
    EXPECT_EQ(values<std::uint32_t>(r, 0), (std::vector<std::uint32_t>{100, 120, 150, 200}));
    EXPECT_EQ(values<std::uint32_t>(r, 1), (std::vector<std::uint32_t>{172, 120, 149, 204}));
}

TEST_F(Starts, ReferenceNumberIsTruncatedTowardZero) {
    auto r = starts(1, 2.9);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(values<std::uint32_t>(r, 0), (std::vector<std::uint32_t>{10}));
}

class StartsOfEmptyReference : public Starts, public ::testing::WithParamInterface<int> {};

TEST_P(StartsOfEmptyReference, GivesEmptyColumnsOfEachClass) {
    const int nout = GetParam();
    auto r = starts(nout, 1);
    ASSERT_TRUE(r.ok);
    const haClassID classes[] = {haUINT32_CLASS, haUINT32_CLASS, haUINT16_CLASS};
    for (int k = 0; k < nout; ++k) {
        EXPECT_EQ(haGetClassID(r.outputs[static_cast<std::size_t>(k)].get()), classes[k]);
        EXPECT_EQ(hxhost::dims_of(r.outputs[static_cast<std::size_t>(k)].get()),
                  (std::vector<haSize>{0, 1}));
    }
    EXPECT_EQ(r.polls.is_pending, 0);
}

INSTANTIATE_TEST_SUITE_P(OneToThreeOutputs, StartsOfEmptyReference, ::testing::Values(1, 2, 3));

TEST_F(Starts, ZeroOutputsOnlyCountAndCannotBeInterrupted) {
    hxhost::CallOptions options;
    options.interrupt_at = 1;
    auto r = starts(0, 0, options);
    ASSERT_TRUE(r.ok) << r.identifier;
    EXPECT_TRUE(r.outputs.empty());
    EXPECT_EQ(r.polls.is_pending, 0);
    EXPECT_EQ(r.polls.handle, 0);
}

class StartsInterrupted : public Starts, public ::testing::WithParamInterface<long> {};

TEST_P(StartsInterrupted, AtPollKEndsWithTheUsersStopAndNoOutputs) {
    hxhost::CallOptions options;
    options.interrupt_at = GetParam();
    auto r = starts(3, 0, options);
    EXPECT_HX_ERROR(r, "helixo:alignport:IterruptedByUser", "Operation terminated by user.");
    EXPECT_TRUE(r.outputs.empty());
    EXPECT_EQ(r.polls.is_pending, GetParam()); // no alignment is delivered after the stop
    EXPECT_EQ(r.polls.handle, 1);
}

INSTANTIATE_TEST_SUITE_P(SeveralK, StartsInterrupted, ::testing::Values(1L, 2L, 4L));

TEST_F(Starts, AStopRequestAfterTheLastPollIsNotSeen) {
    hxhost::CallOptions options;
    options.interrupt_at = 5;
    auto r = starts(3, 0, options);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.polls.is_pending, 4);
}

// Each row also breaks every later check, so it shows which check comes first; none polls.
TEST_F(Starts, ErrorsComeInTheOrderOfTheChecks) {
    const auto in = [&](auto... reference) {
        return args("getstartsinref", bam, bam + ".bai", static_cast<double>(reference)...);
    };
    const RowChecks no_poll = {
        {}, [](const hxhost::CallResult& r) { EXPECT_EQ(r.polls.is_pending, 0); }};
    expect_errors_in_order(
        "alignport",
        error_rows(error_row("NoInput", 4, in(),
                             "helixo:alignport:getstartsinref:InvalidNumInputArg",
                             "getstartsinref: Invalid number of input arguments required."),
                   error_row("TwoInputs", 4, in(0, 0),
                             "helixo:alignport:getstartsinref:InvalidNumInputArg",
                             "getstartsinref: Invalid number of input arguments required."),
                   error_row("FourOutputs", 4, in(-1),
                             "helixo:alignport:getstartsinref:InvalidNumOutputArg",
                             "getstartsinref: Too many output arguments."),
                   error_row("NegativeReference", 3, in(-1),
                             "helixo:alignport:getstartsinref:InvalidReference",
                             "getstartsinref: Invalid reference number."),
                   error_row("ReferencePastTheLast", 3, in(3),
                             "helixo:alignport:getstartsinref:InvalidReference",
                             "getstartsinref: Invalid reference number."),
                   error_row("NaNReference", 0, in(std::nan("")),
                             "helixo:alignport:getstartsinref:InvalidReference",
                             "getstartsinref: Invalid reference number.")),
        no_poll);
}

class StartsOfTruncatedFile : public ::testing::TestWithParam<damaged::Cut> {};

TEST_P(StartsOfTruncatedFile, IsACorruptedFileNotAnInterrupt) {
#if !HELIXO_ALIGNPORT_WRAPS
    if (GetParam() == damaged::Cut::BlockBoundary)
        GTEST_SKIP()
            << "a clean end of file is seen only where the build wraps the library's reads";
#endif
    TempDir dir;
    const std::string whole = bamkit::make_bam(dir, "whole", bamkit::generated_sam(11, 1, 6000));
    const std::string cut = damaged::truncated_copy(dir, whole, "cut", 0.6, GetParam());
    for (int nout : {0, 3}) {
        auto r = call("alignport", nout, args("getstartsinref", cut, cut + ".bai", 0));
        EXPECT_HX_ERROR(r, "helixo:alignport:CorruptedBAMFile", "BAM file is corrupted.");
        EXPECT_EQ(r.polls.handle, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Cuts, StartsOfTruncatedFile,
                         ::testing::Values(damaged::Cut::MidBlock, damaged::Cut::BlockBoundary),
                         [](const auto& p) {
                             return std::string(
                                 p.param == damaged::Cut::MidBlock ? "MidBlock" : "BlockBoundary");
                         });

TEST(StartsAgainstPysam, AgreeOnAGeneratedFile) {
    TempDir dir;
    const std::string bam = bamkit::make_bam(dir, "gen", bamkit::generated_sam(5, 2, 1500, 60));
    for (int ref : {0, 1}) {
        const auto expected = peers::pysam_fetch(dir, bam, ref);
        ASSERT_EQ(expected.size(), 1500u);
        auto r = call("alignport", 3, args("getstartsinref", bam, bam + ".bai", ref));
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(
            values<std::uint32_t>(r, 0),
            peers::column(expected, [](const peers::PeerAlignment& a) { return a.position; }));
        EXPECT_EQ(
            values<std::uint32_t>(r, 1),
            peers::column(expected, [](const peers::PeerAlignment& a) { return a.end_position; }));
        std::vector<std::uint16_t> flags;
        for (const auto& a : expected)
            flags.push_back(static_cast<std::uint16_t>(a.flag));
        EXPECT_EQ(values<std::uint16_t>(r, 2), flags);
    }
}

// samtools stores a CIGAR of more operations than BAM holds as a placeholder (query length S,
// reference span N) with the real CIGAR in a CG tag: such records are read as stored, so their
// ends are right, and a copy keeps them byte for byte.
TEST(StartsAgainstPysam, RecordWithTheCigarInACgTagEndsWhereItsRealCigarDoes) {
    TempDir dir;
    std::string cigar;
    for (int k = 0; k < 35000; ++k)
        cigar += "1=1X";
    const std::string sam = dir.write_text(
        "long.sam", bamkit::sam_header({{"chr1", 300000}}) + "long\t0\tchr1\t100\t60\t" + cigar +
                        "\t*\t0\t0\t" + std::string(70000, 'A') + "\t*\n" +
                        "short\t0\tchr1\t200\t60\t10M\t*\t0\t0\tAAAAAAAAAA\t*\n");
    const std::string bam = dir.file("long.bam");
    peers::run("samtools view -b -o " + peers::quoted(bam) + " " + peers::quoted(sam) +
               " && samtools index " + peers::quoted(bam));
    const auto expected = peers::pysam_fetch(dir, bam, 0);
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(expected[0].end_position, 100u + 70000 - 1);
    auto r = call("alignport", 2, args("getstartsinref", bam, bam + ".bai", 0));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(values<std::uint32_t>(r, 0), (std::vector<std::uint32_t>{100, 200}));
    EXPECT_EQ(
        values<std::uint32_t>(r, 1),
        peers::column(expected, [](const peers::PeerAlignment& a) { return a.end_position; }));
    const std::string copy = dir.file("copy.bam");
    ASSERT_TRUE(call("alignport", 0, args("bam2bam", bam, "bam", copy, "bam", u32({}))).ok);
    EXPECT_EQ(peers::samtools_view(copy), peers::samtools_view(bam));
}

// The collector's block buffer across block boundaries (small blocks stand in for the 65,536
// of the service, which a test file would need that many alignments to cross).
TEST(StartsCollector, KeepsEveryValueInOrderAcrossBlocks) {
    for (std::size_t count : {0u, 1u, 3u, 4u, 5u, 8u, 13u}) {
        alignport::BlockColumn<std::uint32_t, 4> column;
        for (std::uint32_t k = 0; k < count; ++k)
            column.push(k * 7 + 1);
        ASSERT_EQ(column.size(), count);
        std::vector<std::uint32_t> out(count + 1, 0xdeadbeef);
        column.copy_to(out.data());
        for (std::uint32_t k = 0; k < count; ++k)
            EXPECT_EQ(out[k], k * 7 + 1) << "count " << count << " row " << k;
        EXPECT_EQ(out[count], 0xdeadbeefu) << "written past the values";
    }
}

// --- dumpstartsinfo ---

std::string dump(const std::string& bam, int nout = 0, int extra_inputs = 0) {
    Inputs in = args("dumpstartsinfo", bam);
    for (int k = 0; k < extra_inputs; ++k)
        in.push_back(num(k));
    hxhost::capture_console(true);
    auto r = call("alignport", nout, in);
    const std::string text = hxhost::take_console();
    hxhost::capture_console(false);
    if (!r.ok)
        return r.identifier + " | " + r.message + " | " + text;
    EXPECT_EQ(r.polls.is_pending + r.polls.handle, 0);
    return text;
}

std::string record(const std::string& name, const std::string& ref, int pos) {
    return name + "\t" + (ref == "*" ? "4" : "0") + "\t" + ref + "\t" + std::to_string(pos) +
           "\t30\t" + (ref == "*" ? "*" : "4M") + "\t*\t0\t0\tACGT\tIIII\n";
}

TEST(DumpStartsInfo, PrintsWhereEachReferenceBeginsThenTheCount) {
    TempDir dir;
    const std::string sam = bamkit::sam_header({{"A", 100}, {"B", 100}}) + record("a1", "A", 1) +
                            record("a2", "A", 5) + record("a3", "A", 9) + record("b1", "B", 2) +
                            record("b2", "B", 3) + record("u1", "*", 0) + record("u2", "*", 0) +
                            record("u3", "*", 0) + record("u4", "*", 0);
    const std::string bam = bamkit::make_bam(dir, "d", sam, false);
    EXPECT_EQ(dump(bam), "A start at 0 \nB start at 3 \nReads with unknown reference start at 5\n"
                         " dumpstartsinfo:\nLoaded starts for 9 alignments \n");
}

// A BAM of only a header (the library's SAM reader needs a record after the header, so the
// header is taken from a one-record SAM and written alone).
std::string header_only_bam(const TempDir& dir) {
    const std::string sam =
        dir.write_text("h.sam", bamkit::sam_header({{"A", 100}}) + record("a", "A", 1));
    const std::string bam = dir.file("h.bam");
    samfile_t* in = samopen(sam.c_str(), "r", nullptr);
    EXPECT_NE(in, nullptr);
    samfile_t* out = samopen(bam.c_str(), "wb", in->header);
    samclose(out);
    samclose(in);
    return bam;
}

TEST(DumpStartsInfo, FileWithoutRecordsPrintsOnlyTheCount) {
    TempDir dir;
    const std::string bam = header_only_bam(dir);
    EXPECT_EQ(dump(bam), " dumpstartsinfo:\nLoaded starts for 0 alignments \n");
}

TEST(DumpStartsInfo, UngroupedRecordsPrintALineForEveryRun) {
    TempDir dir;
    const std::string sam = bamkit::sam_header({{"A", 100}, {"B", 100}}, "unsorted") +
                            record("u1", "*", 0) + record("a1", "A", 1) + record("b1", "B", 2) +
                            record("a2", "A", 3) + record("a3", "A", 4);
    const std::string bam = bamkit::make_bam(dir, "u", sam, false);
    EXPECT_EQ(dump(bam), "Reads with unknown reference start at 0\nA start at 1 \nB start at 2 \n"
                         "A start at 3 \n dumpstartsinfo:\nLoaded starts for 5 alignments \n");
}

TEST(DumpStartsInfo, AgreesWithSamtoolsOnAGeneratedFile) {
    TempDir dir;
    std::string sam = bamkit::generated_sam(3, 3, 400);
    for (int k = 0; k < 25; ++k)
        sam += record("u" + std::to_string(k), "*", 0);
    const std::string bam = bamkit::make_bam(dir, "g", sam, false);
    const std::string refs = dir.file("refs.txt");
    ASSERT_EQ(std::system(("samtools view '" + bam + "' | cut -f3 > '" + refs + "'").c_str()), 0);
    std::istringstream lines(read_file(refs));
    std::string expected, ref, previous = "\n";
    long ordinal = 0;
    while (std::getline(lines, ref)) {
        if (ref != previous)
            expected += ref == "*" ? "Reads with unknown reference start at " +
                                         std::to_string(ordinal) + "\n"
                                   : ref + " start at " + std::to_string(ordinal) + " \n";
        previous = ref;
        ++ordinal;
    }
    expected += " dumpstartsinfo:\nLoaded starts for " + std::to_string(ordinal) + " alignments \n";
    EXPECT_EQ(ordinal, 1225);
    EXPECT_EQ(dump(bam), expected);
}

TEST(DumpStartsInfo, TruncatedFileIsCorruptedAfterWhatWasPrinted) {
    TempDir dir;
    const std::string whole = bamkit::make_bam(dir, "whole", bamkit::generated_sam(11, 1, 6000));
    const std::string cut = damaged::truncated_copy(dir, whole, "cut", 0.6);
    EXPECT_EQ(dump(cut), "helixo:alignport:CorruptedBAMFile | BAM file is corrupted. | "
                         "chr1 start at 0 \n");
}

TEST(DumpStartsInfo, RefusesInputsAndOutputs) {
    TempDir dir;
    const std::string bam = header_only_bam(dir);
    EXPECT_EQ(dump(bam, 1, 1), "helixo:alignport:dumpstartsinfo:InvalidNumInputArg | "
                               "dumpstartsinfo: Invalid number of input arguments required. | ");
    EXPECT_EQ(dump(bam, 1, 0), "helixo:alignport:dumpstartsinfo:InvalidNumOutputArg | "
                               "dumpstartsinfo: Too many output arguments. | ");
}

} // namespace
