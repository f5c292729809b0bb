// bam2bam and sam2bam: every output format whole and by selection, the selection merge and its
// bad-index rule, the error tables in order, malformed and damaged inputs (the host survives and
// the output keeps what was written), failed writes, interrupts. samtools 1.16 is the peer.
#include "bamkit.h"
#include "error_order.h"
#include "peers.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

using namespace testkit;

namespace {

const std::string kHeader = bamkit::sam_header({{"chr1", 1000}, {"chr2", 800}}, "unsorted");

// Eight records of every kind the formats treat differently: forward and reverse strand,
// unmapped, without qualities, without a sequence, with optional fields.
const std::string kRecords = "r1\t0\tchr1\t10\t30\t5M\t*\t0\t0\tACGTA\tIIIII\tNM:i:0\n"
                             "r2\t16\tchr1\t20\t30\t3M2S\t*\t0\t0\tGGCAT\tABCDE\n"
                             "r3\t4\t*\t0\t0\t*\t*\t0\t0\tTTGCA\t*\n"
                             "r4\t0\tchr2\t5\t30\t4M\t*\t0\t0\tACGN\t#$%&\tXA:Z:hello\n"
                             "r5\t4\t*\t0\t0\t*\t*\t0\t0\t*\t*\n"
                             "r6\t16\tchr2\t50\t30\t6M\t*\t0\t0\tAAACCC\t!!!~~~\n"
                             "r7\t0\tchr2\t60\t30\t2M1I2M\t*\t0\t0\tCCGGT\t12345\n"
                             "r8\t0\tchr1\t900\t30\t3M\t*\t0\t0\tTTT\tIII\n";
constexpr int kRecordCount = 8;

const char* const kFormats[] = {"sam", "bam", "fastq", "fasta"};

// A record as each output format writes it, from samtools' view of the input (stored bases and
// qualities; a missing quality, stored as 255, becomes a space).
std::string rendered(const std::string& sam_line, const std::string& format) {
    if (format == "sam" || format == "bam")
        return sam_line + "\n";
    const std::vector<std::string> f = peers::fields_of(sam_line);
    const std::string seq = f[9] == "*" ? "" : f[9];
    const std::string qual = f[10] == "*" ? std::string(seq.size(), ' ') : f[10];
    if (format == "fasta")
        return ">" + f[0] + "\n" + seq + "\n";
    return "@" + f[0] + "\n" + seq + "\n+\n" + qual + "\n";
}

// Records 1-based by number, rendered in the format.
std::string expected(const std::vector<std::string>& sam_lines, const std::vector<int>& numbers,
                     const std::string& format) {
    std::string text;
    for (int k : numbers)
        text += rendered(sam_lines[static_cast<std::size_t>(k - 1)], format);
    return text;
}

// What an output file holds, as text comparable with expected().
std::string output_text(const std::string& path, const std::string& format) {
    return format == "bam" ? peers::view(path) : read_file(path);
}

std::vector<int> numbers_from(int first, int last) {
    std::vector<int> numbers;
    for (int k = first; k <= last; ++k)
        numbers.push_back(k);
    return numbers;
}

hxhost::ArrayPtr empty_selection() {
    return hxhost::make_array(haUINT32_CLASS, {0, 0});
}

class Conversion : public ::testing::Test {
public:
    TempDir dir;
    std::string bam = bamkit::make_bam(dir, "in", kHeader + kRecords, false);
    std::string sam = dir.file("in.sam");
    std::vector<std::string> lines = peers::lines_of(peers::view(bam));

    hxhost::CallResult bam2bam(const std::string& in, const std::string& in_format,
                               const std::string& out, const std::string& out_format,
                               hxhost::ArrayPtr selection,
                               const hxhost::CallOptions& options = {}) {
        return call("alignport", 0,
                    args("bam2bam", in, in_format, out, out_format, std::move(selection)), options);
    }
};

TEST_F(Conversion, FixtureHoldsEveryRecordAsWritten) {
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kRecordCount));
    EXPECT_EQ(peers::fields_of(lines[4])[9], "*");
}

// --- every format, whole and by selection ---

struct SelectionCase {
    const char* label;
    std::vector<std::uint32_t> selection;
    std::vector<int> written;
    bool bad_index;
    long records_read; // one poll per record read
};

const SelectionCase kSelections[] = {
    {"Empty", {}, numbers_from(1, kRecordCount), false, kRecordCount},
    {"TwoAndFive", {2, 5}, {2, 5}, false, 5},
    {"BeyondTheEnd", {7, 100, 200}, {7}, false, kRecordCount},
    {"LastRecordOnly", {8}, {8}, false, 8},
    {"Zero", {0}, {1}, true, 1},
    {"RepeatedThree", {3, 3}, {3, 4}, true, 4},
    {"FiveThenTwo", {5, 2}, {5, 6}, true, 6},
    {"ZeroAfterTwo", {2, 0}, {2, 3}, true, 3},
};

using FormatAndSelection = std::tuple<const char*, SelectionCase>;

std::string format_and_selection_label(const ::testing::TestParamInfo<FormatAndSelection>& p) {
    return std::string(std::get<0>(p.param)) + "_" + std::get<1>(p.param).label;
}

template <class Case> std::string label_of(const ::testing::TestParamInfo<Case>& p) {
    return p.param.label;
}

class EveryFormat : public Conversion, public ::testing::WithParamInterface<FormatAndSelection> {};

TEST_P(EveryFormat, WritesTheSelectedRecordsAndNothingElse) {
    const std::string format = std::get<0>(GetParam());
    const SelectionCase& c = std::get<1>(GetParam());
    for (const char* in_format : {"bam", "sam"}) {
        SCOPED_TRACE(in_format);
        const std::string out = dir.file(std::string("out.") + in_format + "." + format);
        auto selection = c.selection.empty() ? empty_selection() : u32(c.selection);
        const auto r = bam2bam(in_format == std::string("bam") ? bam : sam, in_format, out, format,
                               std::move(selection));
        if (c.bad_index)
            EXPECT_HX_ERROR(r, "helixo:alignport:BadIndex",
                            "Index is not positive, unique and monotonic increasing.");
        else
            EXPECT_TRUE(r.ok) << r.identifier << ": " << r.message;
        EXPECT_EQ(output_text(out, format), expected(lines, c.written, format));
        EXPECT_EQ(r.polls.handle, c.records_read);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, EveryFormat,
                         ::testing::Combine(::testing::ValuesIn(kFormats),
                                            ::testing::ValuesIn(kSelections)),
                         format_and_selection_label);

TEST_F(Conversion, BamOutputCarriesTheInputHeader) {
    const std::string out = dir.file("copy.bam");
    ASSERT_TRUE(bam2bam(sam, "sam", out, "bam", empty_selection()).ok);
    EXPECT_EQ(peers::view(out, "-H --no-PG"), peers::view(bam, "-H --no-PG"));
}

TEST_F(Conversion, SamOutputStartsWithTheFirstAlignment) {
    const std::string out = dir.file("copy.sam");
    ASSERT_TRUE(bam2bam(bam, "bam", out, "sam", empty_selection()).ok);
    EXPECT_EQ(read_file(out).substr(0, 3), "r1\t");
}

TEST_F(Conversion, FastqOfForwardReadsEqualsSamtoolsFastq) {
    const std::string forward =
        bamkit::make_bam(dir, "fwd", bamkit::generated_sam(7, 2, 40), false);
    const std::string filtered = dir.file("fwd_only.bam");
    peers::run("samtools view -b -F 16 -o " + peers::quoted(filtered) + " " +
               peers::quoted(forward));
    const std::string out = dir.file("fwd.fq");
    ASSERT_TRUE(bam2bam(filtered, "bam", out, "fastq", empty_selection()).ok);
    EXPECT_EQ(read_file(out), peers::run("samtools fastq -n " + peers::quoted(filtered)));
    EXPECT_FALSE(read_file(out).empty());
}

TEST_F(Conversion, ReverseStrandReadsAreWrittenAsStored) {
    const std::string out = dir.file("rev.fq");
    ASSERT_TRUE(bam2bam(bam, "bam", out, "fastq", u32({2})).ok);
    EXPECT_EQ(read_file(out), "@r2\nGGCAT\n+\nABCDE\n");
}

TEST_F(Conversion, ReadWithoutSequenceGivesEmptyLines) {
    const std::string fq = dir.file("empty.fq");
    const std::string fa = dir.file("empty.fa");
    ASSERT_TRUE(bam2bam(bam, "bam", fq, "fastq", u32({5})).ok);
    ASSERT_TRUE(bam2bam(bam, "bam", fa, "fasta", u32({5})).ok);
    EXPECT_EQ(read_file(fq), "@r5\n\n+\n\n");
    EXPECT_EQ(read_file(fa), ">r5\n\n");
}

TEST_F(Conversion, ReadWithoutQualitiesGivesSpaces) {
    const std::string out = dir.file("noqual.fq");
    ASSERT_TRUE(bam2bam(bam, "bam", out, "fastq", u32({3})).ok);
    EXPECT_EQ(read_file(out), "@r3\nTTGCA\n+\n     \n");
}

TEST_F(Conversion, ReadsOfManyThousandBasesAreWrittenWhole) {
    std::string seq, qual;
    for (int k = 0; k < 9000; ++k) {
        seq.push_back("ACGT"[k % 4]);
        qual.push_back(static_cast<char>('!' + k % 40));
    }
    const std::string long_sam = kHeader + "short\t4\t*\t0\t0\t*\t*\t0\t0\tAC\tII\n" +
                                 "long\t4\t*\t0\t0\t*\t*\t0\t0\t" + seq + "\t" + qual + "\n" +
                                 "after\t4\t*\t0\t0\t*\t*\t0\t0\tG\tI\n";
    const std::string in = bamkit::make_bam(dir, "long", long_sam, false);
    const std::string fq = dir.file("long.fq");
    const std::string fa = dir.file("long.fa");
    ASSERT_TRUE(bam2bam(in, "bam", fq, "fastq", empty_selection()).ok);
    ASSERT_TRUE(bam2bam(in, "bam", fa, "fasta", empty_selection()).ok);
    EXPECT_EQ(read_file(fq),
              "@short\nAC\n+\nII\n@long\n" + seq + "\n+\n" + qual + "\n@after\nG\n+\nI\n");
    EXPECT_EQ(read_file(fa), ">short\nAC\n>long\n" + seq + "\n>after\nG\n");
}

TEST_F(Conversion, ExistingOutputIsTruncated) {
    for (const char* format : kFormats) {
        SCOPED_TRACE(format);
        const std::string out =
            dir.write_text(std::string("old.") + format, std::string(100000, 'x'));
        ASSERT_TRUE(bam2bam(bam, "bam", out, format, u32({1})).ok);
        EXPECT_EQ(output_text(out, format), expected(lines, {1}, format));
    }
}

TEST_F(Conversion, RoundTripSamToBamToSamKeepsEveryRecord) {
    const std::string generated = bamkit::generated_sam(11, 3, 300);
    const std::string in = dir.write_text("gen.sam", generated);
    const std::string via_bam = dir.file("gen.bam");
    const std::string back = dir.file("back.sam");
    ASSERT_TRUE(call("alignport", 0, args("sam2bam", in, via_bam)).ok);
    ASSERT_TRUE(bam2bam(via_bam, "bam", back, "sam", empty_selection()).ok);
    std::string body;
    for (const std::string& line : peers::lines_of(generated))
        if (line[0] != '@')
            body += line + "\n";
    EXPECT_EQ(read_file(back), body);
    EXPECT_EQ(peers::view(via_bam), body);
    EXPECT_EQ(peers::view(via_bam, "-H --no-PG"), peers::view(in, "-H --no-PG"));
}

TEST_F(Conversion, GzipCompressedSamIsReadLikePlainText) {
    peers::run("gzip -c " + peers::quoted(sam) + " > " + peers::quoted(dir.file("in.sam.gz")));
    const std::string out = dir.file("from_gz.bam");
    ASSERT_TRUE(call("alignport", 0, args("sam2bam", dir.file("in.sam.gz"), out)).ok);
    EXPECT_EQ(peers::view(out), peers::joined(lines));
    const std::string header_only = dir.write_text("h.sam", kHeader);
    peers::run("gzip " + peers::quoted(header_only));
    EXPECT_HX_ERROR(call("alignport", 0, args("sam2bam", header_only + ".gz", dir.file("h.bam"))),
                    "helixo:alignport:CorruptedSAMFile", "SAM file is corrupted.");
}

// --- selection class and shape ---

const char* const kNotVector = "Third input argument must be a real vector.";
const char* const kNotUint32 = "Third input argument must be uint32.";

TEST_F(Conversion, SelectionShapesAreCheckedBeforeAnyFileIsOpened) {
    const std::string out = dir.file("never.sam");
    const auto in = [&](haClassID cls, const std::vector<haSize>& dims, bool complex) {
        return args("bam2bam", dir.file("missing.bam"), "bam", out, "sam",
                    hxhost::make_array(cls, dims, complex));
    };
    const RowChecks no_output = {
        {}, [&](const hxhost::CallResult&) { EXPECT_FALSE(file_exists(out)); }};
    expect_errors_in_order(
        "alignport",
        error_rows(error_row("Double", 0, in(haDOUBLE_CLASS, {1, 2}, false),
                             "helixo:alignport:InvalidType", kNotUint32),
                   error_row("Int32", 0, in(haINT32_CLASS, {2, 1}, false),
                             "helixo:alignport:InvalidType", kNotUint32),
                   error_row("Logical", 0, in(haLOGICAL_CLASS, {1, 1}, false),
                             "helixo:alignport:InvalidType", kNotUint32),
                   error_row("ComplexUint32", 0, in(haUINT32_CLASS, {1, 2}, true),
                             "helixo:alignport:InvalidType", kNotUint32),
                   error_row("TwoByTwo", 0, in(haUINT32_CLASS, {2, 2}, false),
                             "helixo:alignport:InvalidSize", kNotVector),
                   error_row("OneByOneByTwo", 0, in(haUINT32_CLASS, {1, 1, 2}, false),
                             "helixo:alignport:InvalidSize", kNotVector),
                   error_row("DoubleTwoByTwoIsAShapeError", 0, in(haDOUBLE_CLASS, {2, 2}, false),
                             "helixo:alignport:InvalidSize", kNotVector)),
        no_output);
}

TEST_F(Conversion, RowSelectionAndScalarSelectionAreVectors) {
    const std::string out = dir.file("row.sam");
    ASSERT_TRUE(bam2bam(bam, "bam", out, "sam",
                        hxhost::make_numeric<std::uint32_t>(haUINT32_CLASS, {1, 4}, {1, 2}))
                    .ok);
    EXPECT_EQ(read_file(out), expected(lines, {1, 4}, "sam"));
}

// --- the error tables, in the order of the tests ---

const std::string kLong512(512, 'a');
const std::string kLong64(64, 's');

TEST_F(Conversion, Bam2bamErrorsComeInTheOrderOfTheChecksAndCreateNoOutput) {
    const std::string out = dir.file("out.sam");
    const RowChecks no_output = {
        {}, [&](const hxhost::CallResult&) { EXPECT_FALSE(file_exists(out)); }};
    const std::string header_only_sam = dir.write_text("h.sam", kHeader);
    const std::string header_only_bam = dir.file("h.bam");
    peers::run("samtools view -b -o " + peers::quoted(header_only_bam) + " " +
               peers::quoted(header_only_sam));
    expect_errors_in_order(
        "alignport",
        error_rows(
            error_row("FourInputs", 0, args("bam2bam", bam, "bam", out, "sam"),
                      "helixo:alignport:bam2bam:InvalidNumInputArg",
                      "bam2bam: Invalid number of input arguments required."),
            error_row("SixInputs", 1, args("bam2bam", bam, "bam", out, "sam", u32({1}), 1.0),
                      "helixo:alignport:bam2bam:InvalidNumInputArg",
                      "bam2bam: Invalid number of input arguments required."),
            error_row("AnOutput", 1, args("bam2bam", bam, "bam", out, "sam", u32({1})),
                      "helixo:alignport:bam2bam:InvalidNumOutputArg",
                      "bam2bam: Too many output arguments."),
            error_row("NumericInputName", 0, args("bam2bam", 3.0, "BAM", out, "x", 1.0),
                      "helixo:alignport:InvalidFileName", "Invalid input file name."),
            error_row("InputNameOf512", 0, args("bam2bam", kLong512, "bam", out, "sam", u32({})),
                      "helixo:alignport:InvalidFileName", "Invalid input file name."),
            error_row("UpperCaseInputFormat", 0, args("bam2bam", bam, "BAM", 2.0, "x", 1.0),
                      "helixo:alignport:InvalidFormatName", "Invalid input format."),
            error_row("FastqAsInputFormat", 0, args("bam2bam", bam, "fastq", out, "sam", u32({})),
                      "helixo:alignport:InvalidFormatName", "Invalid input format."),
            error_row("InputFormatOf64", 0, args("bam2bam", bam, kLong64, out, "sam", u32({})),
                      "helixo:alignport:InvalidFormatName", "Invalid input format."),
            error_row("InputFormatWithBlank", 0, args("bam2bam", bam, "sam ", out, "sam", u32({})),
                      "helixo:alignport:InvalidFormatName", "Invalid input format."),
            error_row("NumericOutputName", 0, args("bam2bam", bam, "bam", 2.0, "x", 1.0),
                      "helixo:alignport:InvalidFileName", "Invalid output file name."),
            error_row("OutputNameOf512", 0, args("bam2bam", bam, "bam", kLong512, "sam", u32({})),
                      "helixo:alignport:InvalidFileName", "Invalid output file name."),
            error_row("UpperCaseOutputFormat", 0, args("bam2bam", bam, "bam", out, "SAM", 1.0),
                      "helixo:alignport:InvalidFormatName", "Invalid output format."),
            error_row("NumericOutputFormat", 0, args("bam2bam", bam, "bam", out, 4.0, 1.0),
                      "helixo:alignport:InvalidFormatName", "Invalid output format."),
            error_row("MissingInput", 0,
                      args("bam2bam", dir.file("nope.bam"), "bam", out, "sam", u32({})),
                      "helixo:alignport:CannotOpenInFile", "Could not open SAM file."),
            error_row("SamTextReadAsBam", 0, args("bam2bam", sam, "bam", out, "sam", u32({})),
                      "helixo:alignport:CannotOpenInFile", "Could not open SAM file."),
            error_row(
                "SamWithoutSQLines", 0,
                args("bam2bam",
                     dir.write_text("nosq.sam", "@HD\tVN:1.0\nr\t4\t*\t0\t0\t*\t*\t0\t0\tA\tI\n"),
                     "sam", out, "sam", u32({})),
                "helixo:alignport:CorruptedHeaderSAMFile",
                "BAM file has a missing or corrupted header."),
            error_row("SamWithoutSQLinesNamingAReference", 0,
                      args("bam2bam",
                           dir.write_text("nosq2.sam", "r\t0\tchr1\t5\t30\t1M\t*\t0\t0\tA\tI\n"),
                           "sam", out, "sam", u32({})),
                      "helixo:alignport:CorruptedHeaderSAMFile",
                      "BAM file has a missing or corrupted header."),
            error_row("BamWithoutReferences", 0,
                      args("bam2bam", bamkit::make_header_only_bam(dir, "noref", "@HD\tVN:1.0\n"),
                           "bam", out, "sam", u32({})),
                      "helixo:alignport:CorruptedHeaderSAMFile",
                      "BAM file has a missing or corrupted header."),
            error_row("SamWithoutRecords", 0,
                      args("bam2bam", header_only_sam, "sam", out, "sam", u32({})),
                      "helixo:alignport:CorruptedSAMFile", "BAM file is corrupted."),
            error_row("BamWithoutRecords", 0,
                      args("bam2bam", header_only_bam, "bam", out, "sam", u32({})),
                      "helixo:alignport:CorruptedSAMFile", "BAM file is corrupted."),
            error_row(
                "MalformedFirstRecord", 0,
                args("bam2bam",
                     dir.write_text("bad.sam", kHeader + "r\t0\tchr1\t5\t30\t2M\t*\t0\t0\tA\tI\n"),
                     "sam", out, "sam", u32({})),
                "helixo:alignport:CorruptedSAMFile",
#if HELIXO_ALIGNPORT_WRAPS
                "SAM line 4: CIGAR and SEQ lengths differ."),
#else
                "BAM file is corrupted."),
#endif
            error_row("OutputInAMissingFolder", 0,
                      args("bam2bam", bam, "bam", dir.file("no/such/out.sam"), "sam", u32({})),
                      "helixo:alignport:CannotOpenOutFile", "Could not create output file.")),
        no_output);
}

TEST_F(Conversion, OutputThatCannotBeCreatedIsReportedInEveryFormat) {
    for (const char* format : kFormats) {
        SCOPED_TRACE(format);
        EXPECT_HX_ERROR(bam2bam(bam, "bam", dir.file("none/out"), format, empty_selection()),
                        "helixo:alignport:CannotOpenOutFile", "Could not create output file.");
    }
}

TEST_F(Conversion, Sam2bamErrorsComeInTheOrderOfTheChecksAndCreateNoOutput) {
    const std::string out = dir.file("out.bam");
    const RowChecks no_output = {
        {}, [&](const hxhost::CallResult&) { EXPECT_FALSE(file_exists(out)); }};
    expect_errors_in_order(
        "alignport",
        error_rows(
            error_row("OneInput", 0, args("sam2bam", sam),
                      "helixo:alignport:sam2bam:InvalidNumInputArg",
                      "sam2bam: Invalid number of input arguments required."),
            error_row("ThreeInputs", 1, args("sam2bam", sam, out, "x"),
                      "helixo:alignport:sam2bam:InvalidNumInputArg",
                      "sam2bam: Invalid number of input arguments required."),
            error_row("AnOutput", 1, args("sam2bam", sam, out),
                      "helixo:alignport:sam2bam:InvalidNumOutputArg",
                      "sam2bam: Too many output arguments."),
            error_row("NumericSamName", 0, args("sam2bam", 1.0, 2.0),
                      "helixo:alignport:InvalidFileName", "Invalid SAM file name."),
            error_row("SamNameOf512", 0, args("sam2bam", kLong512, 2.0),
                      "helixo:alignport:InvalidFileName", "Invalid SAM file name."),
            error_row("NumericBamName", 0, args("sam2bam", sam, 2.0),
                      "helixo:alignport:InvalidFileName", "Invalid BAM file name."),
            error_row("BamNameOf512", 0, args("sam2bam", sam, kLong512),
                      "helixo:alignport:InvalidFileName", "Invalid BAM file name."),
            error_row("MissingSam", 0, args("sam2bam", dir.file("nope.sam"), out),
                      "helixo:alignport:CannotOpenInFile", "Could not open SAM file."),
            error_row("SamWithoutSQLines", 0,
                      args("sam2bam",
                           dir.write_text("nosq.sam",
                                          "@HD\tVN:1.0\nr\t0\tchr1\t5\t30\t1M\t*\t0\t0\tA\tI\n"),
                           out),
                      "helixo:alignport:CorruptedHeaderSAMFile",
                      "SAM file has a missing or corrupted header."),
            error_row("SamWithoutRecords", 0,
                      args("sam2bam", dir.write_text("h.sam", kHeader), out),
                      "helixo:alignport:CorruptedSAMFile", "SAM file is corrupted."),
            error_row("BamGivenAsSam", 0, args("sam2bam", bam, out),
                      "helixo:alignport:CorruptedHeaderSAMFile",
                      "SAM file has a missing or corrupted header."),
            error_row("OutputInAMissingFolder", 0, args("sam2bam", sam, dir.file("no/out.bam")),
                      "helixo:alignport:CannotOpenOutFile", "Could not create new BAM file.")),
        no_output);
}

// --- malformed SAM lines: a read error, never the end of the process ---

struct MalformedCase {
    const char* label;
    std::string line;
    const char* reason; // what the record line checks say about it
};

const MalformedCase kMalformed[] = {
    {"InvalidCigarOperation", "bad\t0\tchr1\t30\t30\t3Z\t*\t0\t0\tACG\tIII\n",
     "invalid CIGAR operation 'Z'."},
    {"InvalidCigarCharacter", "bad\t0\tchr1\t30\t30\tM3\t*\t0\t0\tACG\tIII\n",
     "CIGAR is not '*' or length and operation pairs."},
    {"CigarLongerThanSequence", "bad\t0\tchr1\t30\t30\t4M\t*\t0\t0\tACG\tIII\n",
     "CIGAR and SEQ lengths differ."},
    {"QualityShorterThanSequence", "bad\t0\tchr1\t30\t30\t3M\t*\t0\t0\tACG\tII\n",
     "QUAL length differs from SEQ length."},
    {"OptionalFieldWithoutColons", "bad\t0\tchr1\t30\t30\t3M\t*\t0\t0\tACG\tIII\tNMi0\n",
     "optional field 12 is not TAG:TYPE:VALUE."},
    {"OptionalFieldOfUnknownType", "bad\t0\tchr1\t30\t30\t3M\t*\t0\t0\tACG\tIII\tXY:Q:1\n",
     "tag XY: unknown type 'Q'."},
    {"OptionalArrayOfUnknownType", "bad\t0\tchr1\t30\t30\t3M\t*\t0\t0\tACG\tIII\tXB:B:q,1,2\n",
     "tag XB: unknown array subtype 'q'."},
    {"OptionalHexOfOddLength", "bad\t0\tchr1\t30\t30\t3M\t*\t0\t0\tACG\tIII\tXH:H:ABC\n",
     "tag XH: hex value of odd length."},
    {"OptionalHexWithInvalidCharacter", "bad\t0\tchr1\t30\t30\t3M\t*\t0\t0\tACG\tIII\tXH:H:GG\n",
     "tag XH: invalid hex digit."},
};

// The error message for a malformed line numbered line: named by the record line checks where
// the build wraps the library's SAM record reader, the service's corrupted-file text otherwise.
std::string malformed_message(int line, const char* reason, const char* unchecked) {
#if HELIXO_ALIGNPORT_WRAPS
    (void)unchecked;
    return "SAM line " + std::to_string(line) + ": " + reason;
#else
    (void)line;
    (void)reason;
    return unchecked;
#endif
}

class MalformedLines : public Conversion, public ::testing::WithParamInterface<MalformedCase> {};

// kHeader holds three lines.
TEST_P(MalformedLines, EndSam2bamWithTheCorruptedErrorKeepingEarlierRecords) {
    const std::string in = dir.write_text("m.sam", kHeader + peers::joined({lines[0], lines[1]}) +
                                                       GetParam().line + lines[2] + "\n");
    const std::string out = dir.file("m.bam");
    EXPECT_HX_ERROR(call("alignport", 0, args("sam2bam", in, out)),
                    "helixo:alignport:CorruptedSAMFile",
                    malformed_message(6, GetParam().reason, "SAM file is corrupted."));
    EXPECT_EQ(peers::view(out), peers::joined({lines[0], lines[1]}));
}

TEST_P(MalformedLines, EndBam2bamWithTheCorruptedErrorKeepingEarlierRecords) {
    const std::string in =
        dir.write_text("malformed.sam", kHeader + lines[0] + "\n" + GetParam().line);
    for (const char* format : kFormats) {
        SCOPED_TRACE(format);
        const std::string out = dir.file(std::string("m.") + format);
        EXPECT_HX_ERROR(bam2bam(in, "sam", out, format, empty_selection()),
                        "helixo:alignport:CorruptedSAMFile",
                        malformed_message(5, GetParam().reason, "BAM file is corrupted."));
        EXPECT_EQ(output_text(out, format), expected(lines, {1}, format));
    }
}

TEST_P(MalformedLines, AsTheFirstRecordCreateNoOutput) {
    const std::string in = dir.write_text("first.sam", kHeader + GetParam().line + lines[0] + "\n");
    EXPECT_HX_ERROR(call("alignport", 0, args("sam2bam", in, dir.file("first.bam"))),
                    "helixo:alignport:CorruptedSAMFile",
                    malformed_message(4, GetParam().reason, "SAM file is corrupted."));
    EXPECT_FALSE(file_exists(dir.file("first.bam")));
}

INSTANTIATE_TEST_SUITE_P(EachKind, MalformedLines, ::testing::ValuesIn(kMalformed),
                         label_of<MalformedCase>);

TEST_F(Conversion, SelectionStopsBeforeAMalformedLineItNeverReaches) {
    const std::string in = dir.write_text(
        "late.sam", kHeader + peers::joined({lines[0], lines[1]}) + kMalformed[0].line);
    const std::string out = dir.file("late.sam.out");
    EXPECT_TRUE(bam2bam(in, "sam", out, "sam", u32({1, 2})).ok);
    EXPECT_EQ(read_file(out), peers::joined({lines[0], lines[1]}));
}

// --- damaged BAM input ---

class TruncatedBam : public Conversion {
protected:
    std::string whole = bamkit::make_bam(dir, "big", bamkit::generated_sam(3, 2, 3000, 100), false);
    std::vector<std::string> all = peers::lines_of(peers::view(whole));
    std::string cut = dir.write_text(
        "cut.bam", read_file(whole).substr(0, static_cast<std::size_t>(file_size(whole) / 2)));
};

TEST_F(TruncatedBam, GivesTheCorruptedErrorAndKeepsTheRecordsBeforeTheCut) {
    for (const char* format : kFormats) {
        SCOPED_TRACE(format);
        const std::string out = dir.file(std::string("partial.") + format);
        EXPECT_HX_ERROR(bam2bam(cut, "bam", out, format, empty_selection()),
                        "helixo:alignport:CorruptedSAMFile", "BAM file is corrupted.");
        const std::string written = output_text(out, format);
        std::string prefix;
        std::size_t count = 0;
        while (count < all.size() && prefix.size() < written.size())
            prefix += rendered(all[count++], format);
        EXPECT_GT(count, 100u);
        EXPECT_LT(count, all.size());
        EXPECT_EQ(written, prefix);
    }
}

TEST_F(TruncatedBam, BamWithoutItsEndOfFileBlockIsCorruptedAfterEveryRecordIsCopied) {
    const std::string bytes = read_file(whole);
    const std::string cut28 = dir.write_text("noeof.bam", bytes.substr(0, bytes.size() - 28));
    const std::string out = dir.file("noeof.sam");
    EXPECT_HX_ERROR(bam2bam(cut28, "bam", out, "sam", empty_selection()),
                    "helixo:alignport:CorruptedSAMFile", "BAM file is corrupted.");
    EXPECT_EQ(read_file(out), peers::joined(all));
}

TEST_F(TruncatedBam, SelectionWithinTheIntactPartEndsNormally) {
    const std::string out = dir.file("head.sam");
    EXPECT_TRUE(bam2bam(cut, "bam", out, "sam", u32({1, 50})).ok);
    EXPECT_EQ(read_file(out), peers::joined({all[0], all[49]}));
}

// --- failed writes: a full device is an error, in every format ---

TEST_F(Conversion, WritesToAFullDeviceAreReportedInEveryFormat) {
    for (const char* format : kFormats) {
        SCOPED_TRACE(format);
        EXPECT_HX_ERROR(bam2bam(bam, "bam", "/dev/full", format, empty_selection()),
                        "helixo:alignport:CannotWriteBAMFile", "Cannot write into output file.");
    }
    EXPECT_HX_ERROR(call("alignport", 0, args("sam2bam", sam, "/dev/full")),
                    "helixo:alignport:CannotWriteBAMFile", "Cannot write into output file.");
}

TEST_F(Conversion, LargeOutputToAFullDeviceFailsDuringTheCopy) {
    const std::string big =
        bamkit::make_bam(dir, "many", bamkit::generated_sam(5, 2, 2000, 100), false);
    for (const char* format : kFormats) {
        SCOPED_TRACE(format);
        EXPECT_HX_ERROR(bam2bam(big, "bam", "/dev/full", format, empty_selection()),
                        "helixo:alignport:CannotWriteBAMFile", "Cannot write into output file.");
    }
}

// --- interrupts: one poll per record read ---

class InterruptAt : public Conversion, public ::testing::WithParamInterface<int> {};

TEST_P(InterruptAt, PollKStopsBam2bamWithTheRecordsBeforeIt) {
    const int k = GetParam();
    for (const char* format : kFormats) {
        SCOPED_TRACE(format);
        const std::string out = dir.file(std::string("stop.") + format);
        hxhost::CallOptions options;
        options.interrupt_at = k;
        EXPECT_HX_ERROR(bam2bam(bam, "bam", out, format, empty_selection(), options),
                        "helixo:alignport:IterruptedByUser", "Operation terminated by user.");
        EXPECT_EQ(output_text(out, format), expected(lines, numbers_from(1, k - 1), format));
    }
}

TEST_P(InterruptAt, PollKStopsASelectionAtTheKthRecordRead) {
    const int k = GetParam();
    const std::string out = dir.file("stop_sel.sam");
    hxhost::CallOptions options;
    options.interrupt_at = k;
    const auto r = bam2bam(bam, "bam", out, "sam", u32({1, 3, 5, 7}), options);
    if (k <= 7)
        EXPECT_HX_ERROR(r, "helixo:alignport:IterruptedByUser", "Operation terminated by user.");
    else
        EXPECT_TRUE(r.ok) << "the selection is used up at record 7; record 8 is never read";
    std::vector<int> written;
    for (int n : {1, 3, 5, 7})
        if (n < k)
            written.push_back(n);
    EXPECT_EQ(read_file(out), expected(lines, written, "sam"));
}

TEST_P(InterruptAt, PollKStopsSam2bamWithTheRecordsBeforeIt) {
    const int k = GetParam();
    const std::string out = dir.file("stop.bam");
    hxhost::CallOptions options;
    options.interrupt_at = k;
    const auto r = call("alignport", 0, args("sam2bam", sam, out), options);
    EXPECT_HX_ERROR(r, "helixo:alignport:IterruptedByUser", "Operation terminated by user.");
    EXPECT_EQ(r.polls.handle, k);
    EXPECT_EQ(peers::view(out), expected(lines, numbers_from(1, k - 1), "sam"));
}

INSTANTIATE_TEST_SUITE_P(FirstMiddleLast, InterruptAt, ::testing::Values(1, 4, kRecordCount));

TEST_F(Conversion, Sam2bamPollsOncePerRecord) {
    const auto r = call("alignport", 0, args("sam2bam", sam, dir.file("polls.bam")));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.polls.handle, kRecordCount);
    EXPECT_EQ(r.polls.is_pending, 0);
}

} // namespace
