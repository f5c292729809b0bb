// SAM text checked before the BAM library parses it: the line checks on their own (one table for
// record lines, one for header lines), then damaged files made from a valid one by one edit, run
// through sam2bam and bam2bam (to SAM and to BAM), plain and gzip-compressed, and valid files of
// the shapes the checks must let through, which convert exactly as the bare library converts them.
#include "bamkit.h"
#include "peers.h"
#include "sam_line_checks.h"

#include <samtools/sam.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

using namespace testkit;
using alignport::SamLineProblem;

namespace {

// --- check_sam_line ---

const std::vector<std::string> kBaseFields = {"r1", "0", "chr1", "10",    "30",   "5M",
                                              "*",  "0", "0",    "ACGTA", "IIIII"};

// The base record with field column (1-based) replaced by value, then the optional fields.
std::string record(int column = 0, const std::string& value = "", const std::string& tags = "") {
    std::vector<std::string> f = kBaseFields;
    if (column > 0)
        f[static_cast<std::size_t>(column - 1)] = value;
    std::string line;
    for (const std::string& field : f)
        line += (line.empty() ? "" : "\t") + field;
    return tags.empty() ? line : line + "\t" + tags;
}

std::string with_tags(const std::string& tags) {
    return record(0, "", tags);
}

std::string repeated(const std::string& piece, std::size_t times) {
    std::string s;
    s.reserve(piece.size() * times);
    for (std::size_t k = 0; k < times; ++k)
        s += piece;
    return s;
}

std::string bases(std::size_t n) {
    std::string s(n, 'A');
    for (std::size_t k = 0; k < n; ++k)
        s[k] = "ACGT"[k % 4];
    return s;
}

// A mapped record of n bases with CIGAR nM.
std::string long_record(const std::string& name, std::size_t n) {
    return name + "\t0\tchr1\t1\t30\t" + std::to_string(n) + "M\t*\t0\t0\t" + bases(n) + "\t" +
           std::string(n, 'I');
}

struct LineCase {
    const char* label;
    std::string line;
    const char* reason; // null: the line is accepted
    unsigned column;
};

const LineCase kLines[] = {
    {"PlainRecord", record(), nullptr, 0},
    {"QnameOf254", record(1, std::string(254, 'q')), nullptr, 0},
    {"ArraysOfEverySubtype",
     with_tags("Xc:B:c,-128,0,127\tXC:B:C,0,255\tXs:B:s,-32768,32767\tXS:B:S,0,65535\t"
               "Xi:B:i,-2147483648,2147483647\tXI:B:I,0,4294967295\tXf:B:f,1.5,-2e-3,.5,3.,1E38,"
               "inf,NaN,+0"),
     nullptr, 0},
    {"FlagLetters", record(2, "pPr1"), nullptr, 0},
    {"HexFlag", record(2, "0x10"), nullptr, 0},
    {"FlagOf65535", record(2, "65535"), nullptr, 0},
    {"IntegerTagExtremes", with_tags("Xa:i:-2147483648\tXb:i:4294967295\tXc:i:+7\tXd:I:007"),
     nullptr, 0},
    {"FloatTagNearItsMaximum",
     with_tags("Xf:f:3.40282e+38\tXg:f:-1.5e-45\tXh:f:340282346638528859811704183484516925440"),
     nullptr, 0},
    {"CharHexAndText", with_tags("XA:A:x\tXH:H:0aF9\tXZ:Z:hello world\tXc:c:y"), nullptr, 0},
    {"Unmapped", "r\t4\t*\t0\t0\t*\t*\t0\t0\t*\t*", nullptr, 0},
    {"PosOfInt32Maximum", record(4, "2147483647"), nullptr, 0},
    {"PnextOfInt32Maximum", record(8, "2147483647"), nullptr, 0},
    {"TlenOfInt32Minimum", record(9, "-2147483648"), nullptr, 0},
    {"LowerCaseCigar", record(6, "2m1i2M"), nullptr, 0},
    {"MapqOf255", record(5, "255"), nullptr, 0},
    {"CigarOf65535Operations",
     "r\t0\tchr1\t1\t30\t" + repeated("1M", 65535) + "\t*\t0\t0\t" + bases(65535) + "\t*", nullptr,
     0},

    {"TenFields", "r1\t0\tchr1\t10\t30\t5M\t*\t0\t0\tACGTA", "fewer than 11 fields.", 0},
    {"CarriageReturnInside", record(3, "chr\r1"), "control character 0x0d inside the line.", 0},
    {"NulInside", record(1, std::string("r\0x", 3)), "control character 0x00 inside the line.", 0},
    {"VerticalTabInside", record(11, "II\vII"), "control character 0x0b inside the line.", 0},
    {"QnameOf255", record(1, std::string(255, 'q')), "QNAME longer than 254 characters.", 1},
    {"QnameOf300", record(1, std::string(300, 'q')), "QNAME longer than 254 characters.", 1},
    {"EmptyFlag", record(2, ""), "FLAG is empty.", 2},
    {"FlagOf65536", record(2, "65536"), "FLAG is not an integer in 0..65535.", 2},
    {"NegativeFlag", record(2, "-1"), "FLAG is not an integer in 0..65535.", 2},
    {"FlagWithLeadingZero", record(2, "020"), "FLAG is not an integer in 0..65535.", 2},
    {"HexFlagAbove65535", record(2, "0x10000"), "FLAG is not an integer in 0..65535.", 2},
    {"UnknownFlagLetter", record(2, "pz"), "FLAG is not an integer in 0..65535.", 2},
    {"PosAboveInt32", record(4, "2147483648"), "POS is not an integer in 0..2147483647.", 4},
    {"PosWithTrailingText", record(4, "12x"), "POS is not an integer in 0..2147483647.", 4},
    {"MapqOf256", record(5, "256"), "MAPQ is not an integer in 0..255.", 5},
    {"CigarOperationOf2To28", record(6, "268435456M"), "CIGAR operation length above 268435455.",
     6},
    {"CigarOperationWithoutLength", record(6, "M"),
     "CIGAR is not '*' or length and operation pairs.", 6},
    {"CigarStartingWithStar", record(6, "*5M"), "CIGAR is not '*' or length and operation pairs.",
     6},
    {"CigarBackOperation", record(6, "5B"), "invalid CIGAR operation 'B'.", 6},
    {"CigarOf65536Operations",
     "r\t0\tchr1\t1\t30\t" + repeated("1M", 65536) + "\t*\t0\t0\t" + bases(65536) + "\t*",
     "CIGAR with more than 65535 operations.", 6},
    // 16 x (2^28 - 1) + 21 = 2^32 + 5: the library's 32-bit sum says 5 and matches the SEQ.
    {"CigarQueryLengthWrappingTo32Bits", record(6, repeated("268435455I", 16) + "21M"),
     "CIGAR and SEQ lengths differ.", 6},
    {"NegativePnext", record(8, "-5"), "PNEXT is not an integer in 0..2147483647.", 8},
    {"TlenAboveInt32", record(9, "2147483648"),
     "TLEN is not an integer in -2147483648..2147483647.", 9},
    {"TlenWithPlus", record(9, "+5"), "TLEN is not an integer in -2147483648..2147483647.", 9},
    {"SeqOutsideAscii",
     record(10, "ACG\xe9"
                "A"),
     "SEQ has a character outside ASCII.", 10},
    {"QualWithSpace", record(11, "III I"), "QUAL has a character outside '!'..'~'.", 11},
    {"QualWithoutSeq", record(10, "*"), "QUAL length differs from SEQ length.", 11},
    {"TrailingTab", record() + "\t", "optional field 12 is not TAG:TYPE:VALUE.", 12},
    {"EmptyText", with_tags("XZ:Z:"), "tag XZ: empty value.", 12},
    {"LongCharacter", with_tags("NM:i:0\tXA:A:ab"), "tag XA: value is not one character.", 13},
    {"IntegerTagAboveUint32", with_tags("XI:i:4294967296"),
     "tag XI: value is not an integer in -2147483648..4294967295.", 12},
    {"IntegerTagWithTrailingText", with_tags("XI:i:12abc"),
     "tag XI: value is not an integer in -2147483648..4294967295.", 12},
    {"FloatTagWithTrailingText", with_tags("XF:f:1.5x"), "tag XF: value is not a number.", 12},
    {"FloatTagBeyondFloat", with_tags("XF:f:1e39"), "tag XF: value is beyond the float range.", 12},
    {"FloatTagJustBeyondFloat", with_tags("XF:f:3.4028236e38"),
     "tag XF: value is beyond the float range.", 12},
    {"DoubleTag", with_tags("XD:d:1.5"), "tag XD: type d is not supported.", 12},
    {"ArrayOfText", with_tags("XB:B:c,abc"),
     "tag XB: array value 1 is not an integer in -128..127.", 12},
    {"ArrayWithoutCommas", with_tags("XB:B:i,1 2 3"),
     "tag XB: array value 1 is not an integer in -2147483648..2147483647.", 12},
    {"ArrayWithTrailingComma", with_tags("XB:B:s,1,2,"), "tag XB: array value 3 is empty.", 12},
    {"ArrayWithEmptyValue", with_tags("XB:B:S,1,,2"), "tag XB: array value 2 is empty.", 12},
    {"ArrayWithoutValues", with_tags("XB:B:c"), "tag XB: array without values.", 12},
    {"ArrayWithoutComma", with_tags("XB:B:c1,2"), "tag XB: array without values.", 12},
    {"ArrayValueOutOfRange", with_tags("XB:B:C,1,256"),
     "tag XB: array value 2 is not an integer in 0..255.", 12},
    {"ArrayValueInOctal", with_tags("XB:B:i,010"),
     "tag XB: array value 1 is not an integer in -2147483648..2147483647.", 12},
    {"ArrayFloatOfText", with_tags("XB:B:f,1.0,x"), "tag XB: array value 2 is not a number.", 12},
    {"ArrayOfUnknownSubtype", with_tags("XB:B:q,1"), "tag XB: unknown array subtype 'q'.", 12},
    {"UnprintableTag", with_tags("\x01X:Q:1"), "optional field 12: unknown type 'Q'.", 12},
    // 44739243 values of 4 bytes: the library would ask for 6 * 4 * n > 2^30 bytes.
    {"ArrayTooLargeForTheLibrary", with_tags("XB:B:I" + repeated(",0", 44739243)),
     "record too large for BAM.", 0},
};

class LineChecks : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineChecks, AcceptOrNameWhatIsWrong) {
    const LineCase& c = GetParam();
    SamLineProblem problem;
    const bool ok = alignport::check_sam_line(c.line.data(), c.line.size(), &problem);
    if (c.reason == nullptr) {
        EXPECT_TRUE(ok) << problem.reason;
    } else {
        EXPECT_FALSE(ok);
        EXPECT_STREQ(problem.reason, c.reason);
        EXPECT_EQ(problem.column, c.column);
    }
    // The verdict never depends on a problem being asked for.
    EXPECT_EQ(alignport::check_sam_line(c.line.data(), c.line.size(), nullptr), ok);
}

INSTANTIATE_TEST_SUITE_P(Table, LineChecks, ::testing::ValuesIn(kLines),
                         [](const ::testing::TestParamInfo<LineCase>& p) {
                             return std::string(p.param.label);
                         });

// The byte checks go 16 bytes at a time, the last block overlapping the one before: a bad byte
// is found at every position of every length around the block sizes, and the line reports the
// first one.
TEST(LineCheckBounds, FindABadByteAtEveryPositionOfSeqAndQual) {
    struct Bad {
        unsigned field; // 10: SEQ, 11: QUAL
        char byte;
        const char* reason;
    };
    const Bad kBad[] = {
        {10, '\xe9', "SEQ has a character outside ASCII."},
        {11, ' ', "QUAL has a character outside '!'..'~'."},
        {11, '\x7f', "QUAL has a character outside '!'..'~'."},
        {11, '\x80', "QUAL has a character outside '!'..'~'."},
        {11, '\v', "control character 0x0b inside the line."},
        {10, '\0', "control character 0x00 inside the line."},
    };
    for (std::size_t n = 1; n <= 49; ++n) {
        const std::string clean = long_record("r", n);
        ASSERT_TRUE(alignport::check_sam_line(clean.data(), clean.size(), nullptr)) << n;
        const std::size_t qual = clean.size() - n;
        const std::size_t seq = qual - 1 - n;
        for (const Bad& bad : kBad) {
            for (std::size_t at = 0; at < n; ++at) {
                std::string line = clean;
                line[(bad.field == 10 ? seq : qual) + at] = bad.byte;
                SamLineProblem problem;
                EXPECT_FALSE(alignport::check_sam_line(line.data(), line.size(), &problem))
                    << n << " " << at;
                EXPECT_STREQ(problem.reason, bad.reason) << n << " " << at;
            }
        }
    }
}

TEST(LineCheckBounds, ReadOnlyTheGivenBytes) {
    // A valid line followed, in memory, by bytes that would spoil it.
    const std::string line = record() + "\tXX:i:5";
    const std::string memory = line + "x\t\r";
    EXPECT_TRUE(alignport::check_sam_line(memory.data(), line.size(), nullptr));
    EXPECT_FALSE(alignport::check_sam_line(memory.data(), line.size() - 3, nullptr));
}

// --- SamHeaderChecker ---

struct HeaderCase {
    const char* label;
    std::vector<std::string> lines;
    int failing; // index of the first refused line, -1 when all pass
    const char* reason;
};

const HeaderCase kHeaders[] = {
    {"EveryKindOfLine",
     {"@HD\tVN:1.0\tSO:unsorted", "@SQ\tSN:chr1\tLN:1000\tM5:abc", "@SQ\tSN:chr2\tLN:2147483647\t",
      "@RG\tID:x\tSM:y", "@PG\tID:p\tCL:a b", "@CO\tfree\t\ttext", "@XY\tab:c"},
     -1,
     nullptr},
    {"SecondSqWithoutSn", {"@SQ\tSN:chr1\tLN:10", "@SQ\tLN:10"}, 1, "@SQ without SN."},
    {"SqWithoutLn", {"@HD\tVN:1.0", "@SQ\tSN:chr1"}, 1, "@SQ without LN."},
    {"SqWithoutFields", {"@SQ"}, 0, "header line type is not followed by one tab."},
    {"TypeOfFourCharacters",
     {"@SQ\tSN:a\tLN:10", "@S@CO\tx"},
     1,
     "header line type is not two characters."},
    {"TwoTabsAfterType", {"@HD\t\tVN:1.0"}, 0, "header line type is not followed by one tab."},
    {"CarriageReturnInsideAComment",
     {"@CO\tab\rx", "@SQ\tSN:a\tLN:10"},
     0,
     "character 0x0d in a header line."},
    {"TwoSn", {"@SQ\tSN:a\tSN:b\tLN:5"}, 0, "@SQ with more than one SN."},
    {"TwoLn", {"@SQ\tSN:a\tLN:5\tLN:6"}, 0, "@SQ with more than one LN."},
    {"EmptySn", {"@SQ\tSN:\tLN:5"}, 0, "@SQ with an empty SN."},
    {"LnZero", {"@SQ\tSN:a\tLN:0"}, 0, "@SQ LN is not an integer in 1..2147483647."},
    {"LnAboveInt32", {"@SQ\tSN:a\tLN:2147483648"}, 0, "@SQ LN is not an integer in 1..2147483647."},
    {"LnWithTrailingText", {"@SQ\tSN:a\tLN:100x"}, 0, "@SQ LN is not an integer in 1..2147483647."},
    {"NegativeLn", {"@SQ\tSN:a\tLN:-5"}, 0, "@SQ LN is not an integer in 1..2147483647."},
    {"RepeatedName",
     {"@SQ\tSN:a\tLN:5", "@SQ\tSN:b\tLN:5", "@SQ\tSN:a\tLN:7"},
     2,
     "@SQ SN repeats the name of an earlier @SQ."},
    {"TagShorterThanThree", {"@SQ\tSN:a\tLN:5\tM5"}, 0, "header field is not TAG:VALUE."},
    {"HdTagWithoutColon", {"@HD\tVN"}, 0, "header field is not TAG:VALUE."},
    {"EmptyFieldInsideAReadGroup", {"@RG\tID:x\t\tSM:y"}, 0, "empty field in a header line."},
    {"NulInAComment", {std::string("@CO\tx\0y", 7)}, 0, "character 0x00 in a header line."},
};

class HeaderChecks : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderChecks, RefuseTheFirstFaultyLine) {
    const HeaderCase& c = GetParam();
    alignport::SamHeaderChecker checker;
    int failing = -1;
    SamLineProblem problem;
    for (std::size_t k = 0; k < c.lines.size() && failing < 0; ++k)
        if (!checker.check_line(c.lines[k].data(), c.lines[k].size(), &problem))
            failing = static_cast<int>(k);
    EXPECT_EQ(failing, c.failing);
    if (c.reason != nullptr) {
        EXPECT_STREQ(problem.reason, c.reason);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, HeaderChecks, ::testing::ValuesIn(kHeaders),
                         [](const ::testing::TestParamInfo<HeaderCase>& p) {
                             return std::string(p.param.label);
                         });

// --- the services on damaged files ---

const std::vector<std::string> kValidLines = {
    "@HD\tVN:1.0\tSO:unsorted",
    "@SQ\tSN:chr1\tLN:1000",
    "@SQ\tSN:chr2\tLN:800",
    "r1\t0\tchr1\t10\t30\t5M\t*\t0\t0\tACGTA\tIIIII\tNM:i:0",
    "r2\t16\tchr1\t20\t30\t3M2S\t*\t0\t0\tGGCAT\tABCDE\tXB:B:c,1,2",
    "r3\t4\t*\t0\t0\t*\t*\t0\t0\tTTGCA\t*",
    "r4\t0\tchr2\t5\t30\t4M\t*\t0\t0\tACGN\t#$%&\tXA:Z:hello",
};
constexpr std::size_t kFirstRecord = 3;

std::string joined(const std::vector<std::string>& lines, std::size_t count,
                   const char* ending = "\n") {
    std::string text;
    for (std::size_t k = 0; k < count && k < lines.size(); ++k)
        text += lines[k] + ending;
    return text;
}

// Writes text gzip-compressed (as gzip writes it; the library reads both forms).
std::string write_gzip(const TempDir& dir, const std::string& name, const std::string& text) {
    const std::string path = dir.file(name);
    gzFile out = gzopen(path.c_str(), "wb");
    EXPECT_NE(out, nullptr);
    if (out != nullptr) {
        EXPECT_EQ(gzwrite(out, text.data(), static_cast<unsigned>(text.size())),
                  static_cast<int>(text.size()));
        gzclose(out);
    }
    return path;
}

// The uncompressed bytes of a BAM file (BGZF blocks are gzip members).
std::string inflated(const std::string& path) {
    std::string bytes;
    gzFile in = gzopen(path.c_str(), "rb");
    if (in == nullptr)
        return bytes;
    char buf[65536];
    int n;
    while ((n = gzread(in, buf, sizeof buf)) > 0)
        bytes.append(buf, static_cast<std::size_t>(n));
    gzclose(in);
    return bytes;
}

// Copies every record of SAM text through the bare library, which this test binary links without
// the plug-in's checks: what the services wrote before them. mode "w" (SAM) or "wb" (BAM). The
// bare library must not be asked for a record of a header-only text: it reads past its buffer.
void library_copy(const std::string& in, const std::string& out, const char* mode,
                  bool has_records = true) {
    samfile_t* input = samopen(in.c_str(), "r", nullptr);
    ASSERT_NE(input, nullptr);
    samfile_t* output = samopen(out.c_str(), mode, input->header);
    ASSERT_NE(output, nullptr);
    bam1_t* b = bam_init1();
    while (has_records && samread(input, b) >= 0)
        samwrite(output, b);
    bam_destroy1(b);
    samclose(output);
    samclose(input);
}

struct DamageCase {
    const char* label;
    std::size_t index; // the line (0-based) replaced
    std::string text;  // what replaces it (may hold more than one line)
    int line;          // the line the error names
    const char* reason;
};

const DamageCase kDamage[] = {
    {"SecondSqWithoutSn", 2, "@SQ\tLN:800", 3, "@SQ without SN."},
    {"SqWithoutLn", 1, "@SQ\tSN:chr1", 2, "@SQ without LN."},
    {"LnBeyondInt32", 2, "@SQ\tSN:chr2\tLN:4294967296", 3,
     "@SQ LN is not an integer in 1..2147483647."},
    {"EmptySn", 1, "@SQ\tSN:\tLN:1000", 2, "@SQ with an empty SN."},
    {"RepeatedSn", 2, "@SQ\tSN:chr1\tLN:800", 3, "@SQ SN repeats the name of an earlier @SQ."},
    {"HeaderTagOfTwoCharacters", 0, "@HD\tVN", 1, "header field is not TAG:VALUE."},
    {"FirstQnameOf255", 3, record(1, std::string(255, 'q')), 4,
     "QNAME longer than 254 characters."},
    {"LaterQnameOf255", 5, "q" + std::string(254, 'x') + "\t4\t*\t0\t0\t*\t*\t0\t0\tTTGCA\t*", 6,
     "QNAME longer than 254 characters."},
    {"LaterQnameOf300", 4,
     std::string(300, 'q') + "\t16\tchr1\t20\t30\t3M2S\t*\t0\t0\tGGCAT\tABCDE", 5,
     "QNAME longer than 254 characters."},
    {"FirstArrayOfText", 3, with_tags("XB:B:c,abc,def"), 4,
     "tag XB: array value 1 is not an integer in -128..127."},
    {"LaterArrayCountMismatch", 4,
     "r2\t16\tchr1\t20\t30\t3M2S\t*\t0\t0\tGGCAT\tABCDE\tXB:B:c,1 2 3 4 5 6", 5,
     "tag XB: array value 1 is not an integer in -128..127."},
    {"LaterFlagBeyond16Bits", 6, "r4\t65552\tchr2\t5\t30\t4M\t*\t0\t0\tACGN\t#$%&", 7,
     "FLAG is not an integer in 0..65535."},
    {"FirstMapqBeyond8Bits", 3, record(5, "300"), 4, "MAPQ is not an integer in 0..255."},
    {"LaterPosBeyondInt32", 5, "r3\t0\tchr1\t3000000000\t30\t5M\t*\t0\t0\tTTGCA\t*", 6,
     "POS is not an integer in 0..2147483647."},
    {"LaterCigarWrappingTo32Bits", 4,
     "r2\t16\tchr1\t20\t30\t" + repeated("268435455I", 16) + "21M\t*\t0\t0\tGGCAT\tABCDE", 5,
     "CIGAR and SEQ lengths differ."},
    {"LaterTlenBeyondInt32", 6, "r4\t0\tchr2\t5\t30\t4M\t*\t0\t-2147483649\tACGN\t#$%&", 7,
     "TLEN is not an integer in -2147483648..2147483647."},
    {"FirstQualBelowBang", 3, record(11, "II II"), 4, "QUAL has a character outside '!'..'~'."},
    {"LaterLineOfTenFields", 5, "r3\t4\t*\t0\t0\t*\t*\t0\t0\tTTGCA", 6, "fewer than 11 fields."},
    // A long read's CIGAR beyond what BAM stores: a message of its own ("SAM line N has ...").
    {"LaterCigarOf65536Operations", 5,
     "r3\t0\tchr1\t30\t30\t" + repeated("1M", 65536) + "\t*\t0\t0\t" + bases(65536) + "\t*", 6,
     "has more than 65535 CIGAR operations."},
    // Blank lines (one of them CRLF) count as lines.
    {"AfterBlankLines", 4,
     "\r\n\n" + std::string(255, 'q') + "\t16\tchr1\t20\t30\t3M2S\t*\t0\t0\tGGCAT\tABCDE", 7,
     "QNAME longer than 254 characters."},
};

bool is_record_damage(const DamageCase& c) {
    return c.index >= kFirstRecord;
}

// The records that precede the damaged line, which the services copy before they stop.
std::size_t records_before(const DamageCase& c) {
    return is_record_damage(c) ? c.index - kFirstRecord : 0;
}

using DamageAndCompression = std::tuple<DamageCase, bool>;

class DamagedSam : public ::testing::TestWithParam<DamageAndCompression> {
public:
    TempDir dir;

    std::string damaged_input() {
        const DamageCase& c = std::get<0>(GetParam());
        std::vector<std::string> lines = kValidLines;
        lines[c.index] = c.text;
        const std::string text = joined(lines, lines.size());
        return std::get<1>(GetParam()) ? write_gzip(dir, "damaged.sam.gz", text)
                                       : dir.write_text("damaged.sam", text);
    }
};

TEST_P(DamagedSam, IsTheCorruptedSamErrorNamingTheLineInEveryService) {
    const DamageCase& c = std::get<0>(GetParam());
#if !HELIXO_ALIGNPORT_WRAPS
    if (is_record_damage(c))
        GTEST_SKIP() << "record lines are checked only where the build wraps sam_read1";
#endif
    const std::string in = damaged_input();
    // "SAM line N: REASON", or "SAM line N has ..." for the one problem worded whole.
    const bool worded = std::string(c.reason).rfind("has ", 0) == 0;
    const std::string message =
        "SAM line " + std::to_string(c.line) + (worded ? " " : ": ") + c.reason;
    // What the services write before the damaged line: its records through the bare library.
    const std::string prefix =
        dir.write_text("prefix.sam", joined(kValidLines, kFirstRecord + records_before(c)));
    const std::string prefix_bam = dir.file("prefix.bam");
    const std::string prefix_sam = dir.file("prefix.out.sam");
    library_copy(prefix, prefix_bam, "wb", records_before(c) > 0);
    library_copy(prefix, prefix_sam, "w", records_before(c) > 0);

    struct Run {
        const char* service;
        Inputs inputs;
        std::string out;
        bool bam;
    };
    const std::string outs[] = {dir.file("s2b.bam"), dir.file("b2b.sam"), dir.file("b2b.bam")};
    Run runs[] = {
        {"sam2bam", args("sam2bam", in, outs[0]), outs[0], true},
        {"bam2bam to sam", args("bam2bam", in, "sam", outs[1], "sam", u32({})), outs[1], false},
        {"bam2bam to bam", args("bam2bam", in, "sam", outs[2], "bam", u32({})), outs[2], true},
    };
    for (Run& run : runs) {
        SCOPED_TRACE(run.service);
        const hxhost::CallResult r = call("alignport", 0, run.inputs);
        EXPECT_HX_ERROR(r, "helixo:alignport:CorruptedSAMFile", message);
        EXPECT_TRUE(r.outputs.empty() || r.outputs[0] == nullptr);
        if (!is_record_damage(c) || records_before(c) == 0) {
            // Refused before the output is created.
            EXPECT_FALSE(file_exists(run.out));
        } else if (run.bam) {
            EXPECT_EQ(inflated(run.out), inflated(prefix_bam));
        } else {
            EXPECT_EQ(read_file(run.out), read_file(prefix_sam));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedSam,
                         ::testing::Combine(::testing::ValuesIn(kDamage), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<DamageAndCompression>& p) {
                             return std::string(std::get<0>(p.param).label) +
                                    (std::get<1>(p.param) ? "_Gzip" : "_Plain");
                         });

TEST(BlankLinesAfterTheHeader, AreNoRecordsSoHeaderAndBlankLinesIsTheHeaderOnlyError) {
    TempDir dir;
    const std::string text = joined(kValidLines, kFirstRecord) + "\n\r\n\t\n\n";
    for (const std::string& in :
         {dir.write_text("blank.sam", text), write_gzip(dir, "blank.sam.gz", text)}) {
        SCOPED_TRACE(in);
        EXPECT_HX_ERROR(call("alignport", 0, args("sam2bam", in, dir.file("out.bam"))),
                        "helixo:alignport:CorruptedSAMFile", "SAM file is corrupted.");
        EXPECT_HX_ERROR(
            call("alignport", 0, args("bam2bam", in, "sam", dir.file("out.sam"), "sam", u32({}))),
            "helixo:alignport:CorruptedSAMFile", "BAM file is corrupted.");
        EXPECT_FALSE(file_exists(dir.file("out.bam")));
        EXPECT_FALSE(file_exists(dir.file("out.sam")));
    }
}

// --- valid files of the same shapes ---

struct ShapeCase {
    const char* label;
    std::string text;       // what the services read
    std::string equivalent; // the same records as the bare library reads them correctly
    bool samtools_reads;    // samtools 1.16 reads text to the same records
};

const std::string kHeaderText = joined(kValidLines, kFirstRecord);
const std::string kRecordText =
    joined(std::vector<std::string>(kValidLines.begin() + kFirstRecord, kValidLines.end()), 4);

const ShapeCase kShapes[] = {
    {"QnameOf254", kHeaderText + record(1, std::string(254, 'q')) + "\n" + kRecordText, "", true},
    {"ArraysOfEverySubtype",
     kHeaderText +
         with_tags("Xc:B:c,-128,0,127\tXC:B:C,0,255\tXs:B:s,-32768,32767\tXS:B:S,0,65535\t"
                   "Xi:B:i,-2147483648,2147483647\tXI:B:I,0,4294967295\tXf:B:f,1.5,-0.25,1e+10") +
         "\n",
     "", true},
    {"BlankLinesBetweenRecords",
     kHeaderText + "\n" + kValidLines[3] + "\n\n\n" + kValidLines[4] + "\n\t\n" + kValidLines[5] +
         "\n" + kValidLines[6] + "\n\n",
     kHeaderText + kRecordText, false},
    // The library keeps the header's CRs in the header text and reads the records as with LF.
    {"CrlfLines", joined(kValidLines, kValidLines.size(), "\r\n"), "", false},
    {"NoFinalLineFeed", kHeaderText + kRecordText.substr(0, kRecordText.size() - 1), "", true},
    {"FirstLineOver16KiB", kHeaderText + long_record("long", 20000) + "\n" + kRecordText, "", true},
    {"LineOver1MiBBetweenOthers",
     kHeaderText + kValidLines[3] + "\n" + long_record("huge", 1200000) + "\tXZ:Z:after\n" +
         kValidLines[4] + "\n",
     "", true},
    {"ManyRecordsAcrossBufferRefills", bamkit::generated_sam(5, 2, 700), "", true},
};

class ValidShapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(ValidShapes, ConvertExactlyAsTheLibraryReadsThem) {
    const ShapeCase& c = GetParam();
    TempDir dir;
    const std::string in = dir.write_text("in.sam", c.text);
    const std::string reference =
        dir.write_text("ref.sam", c.equivalent.empty() ? c.text : c.equivalent);
    library_copy(reference, dir.file("ref.bam"), "wb");
    library_copy(reference, dir.file("ref.out.sam"), "w");
    const std::string ref_bam = inflated(dir.file("ref.bam"));
    ASSERT_GT(ref_bam.size(), 100u);

    for (const std::string& input : {in, write_gzip(dir, "in.sam.gz", c.text)}) {
        SCOPED_TRACE(input);
        const auto s2b = call("alignport", 0, args("sam2bam", input, dir.file("s2b.bam")));
        ASSERT_TRUE(s2b.ok) << s2b.identifier << ": " << s2b.message;
        EXPECT_EQ(inflated(dir.file("s2b.bam")), ref_bam);
        const auto to_sam = call(
            "alignport", 0, args("bam2bam", input, "sam", dir.file("b2b.sam"), "sam", u32({})));
        ASSERT_TRUE(to_sam.ok) << to_sam.identifier << ": " << to_sam.message;
        EXPECT_EQ(read_file(dir.file("b2b.sam")), read_file(dir.file("ref.out.sam")));
        const auto to_bam = call(
            "alignport", 0, args("bam2bam", input, "sam", dir.file("b2b.bam"), "bam", u32({})));
        ASSERT_TRUE(to_bam.ok) << to_bam.identifier << ": " << to_bam.message;
        EXPECT_EQ(inflated(dir.file("b2b.bam")), ref_bam);
    }
    if (c.samtools_reads) {
        EXPECT_EQ(peers::view(dir.file("s2b.bam")), peers::view(in));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ValidShapes, ::testing::ValuesIn(kShapes),
                         [](const ::testing::TestParamInfo<ShapeCase>& p) {
                             return std::string(p.param.label);
                         });

} // namespace
