// SAM features: each value read from the entry's own line, cut to the feature's width and
// appended least significant byte first.
#include "traitmark_kit.h"

#include <sstream>

using namespace testkit;
using tmkit::decode;
using tmkit::line_starts;
using tmkit::starts_of_lines_beginning;
using tmkit::values_of_feature;
using tmkit::width_of;

namespace {

const std::string kLine = "r1\t99\tchr1\t100\t60\t10M\t=\t300\t0\tACGTACGTAC\tIIIIIIIIII\n";

struct FeatureBytes {
    const char* feature;
    std::string bytes;
};

void PrintTo(const FeatureBytes& f, std::ostream* os) {
    *os << f.feature;
}

class EdgeCaseLine : public ::testing::TestWithParam<FeatureBytes> {};

TEST_P(EdgeCaseLine, GivesTheFeaturesValueInItsWidth) {
    for (bool wide : {false, true}) {
        TempDir dir;
        const auto out = tmkit::run_feature(dir, "sam", GetParam().feature, kLine, {0}, wide);
        ASSERT_TRUE(out.result.ok) << out.result.message;
        EXPECT_TRUE(out.prefix_kept);
        EXPECT_EQ(out.block, GetParam().bytes);
        EXPECT_EQ(out.result.polls.handle, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Traitmark, EdgeCaseLine,
    ::testing::Values(FeatureBytes{"Flag", std::string("\x63\x00", 2)},
                      FeatureBytes{"Position", std::string("\x64\x00\x00\x00", 4)},
                      FeatureBytes{"MappingQuality", std::string("\x3c", 1)},
                      FeatureBytes{"MatePosition", std::string("\x2c\x01\x00\x00", 4)},
                      FeatureBytes{"QueryLength", std::string("\x0a\x00", 2)},
                      FeatureBytes{"EndPosition", std::string("\x6d\x00\x00\x00", 4)},
                      FeatureBytes{"Reference", std::string("\x01", 1)},
                      FeatureBytes{"MateIndex", std::string("\x00\x00\x00\x00", 4)}),
    [](const auto& param_info) { return std::string(param_info.param.feature); });

std::string sam_line(const std::string& pos, const std::string& cigar,
                     const std::string& mapq = "60", const std::string& flag = "0") {
    return "r\t" + flag + "\tchr1\t" + pos + "\t" + mapq + "\t" + cigar + "\t*\t0\t0\t*\t*\n";
}

struct CigarCase {
    const char* cigar;
    const char* pos;
    std::uint32_t query_length;
    std::uint32_t end_position;
};

void PrintTo(const CigarCase& c, std::ostream* os) {
    *os << c.cigar << " at " << c.pos;
}

class CigarWalk : public ::testing::TestWithParam<CigarCase> {};

TEST_P(CigarWalk, GivesQueryLengthAndEndPosition) {
    const CigarCase& c = GetParam();
    const std::string text = sam_line(c.pos, c.cigar);
    EXPECT_EQ(values_of_feature("sam", "QueryLength", text, {0}, 2),
              std::vector<std::uint32_t>{c.query_length});
    EXPECT_EQ(values_of_feature("sam", "EndPosition", text, {0}, 4),
              std::vector<std::uint32_t>{c.end_position});
}

INSTANTIATE_TEST_SUITE_P(
    Traitmark, CigarWalk,
    ::testing::Values(CigarCase{"5S10M2I3D", "100", 17, 112}, CigarCase{"3H10M", "100", 10, 109},
                      CigarCase{"*", "100", 0, 100}, CigarCase{"*", "0", 0, 0},
                      CigarCase{"10S", "100", 10, 99}, CigarCase{"10S", "0", 10, 0xFFFFFFFFu},
                      CigarCase{"4M100N6M", "100", 10, 209}, CigarCase{"2P3M1H", "100", 3, 102},
                      CigarCase{"M", "100", 0, 99}, CigarCase{"65535M", "100", 65535, 65634},
                      CigarCase{"5M", "4294967296", 5, 4}, CigarCase{"10M", "4294967295", 10, 8},
                      CigarCase{"5=3X2=", "100", 10, 109}, CigarCase{"2S3=1X4D2I1=", "100", 9, 108},
                      CigarCase{"1X", "1", 1, 1}));

// A value wider than its 2-byte column ends the call, the index file back to its size.
struct TooWide {
    const char* indexer;
    const char* feature;
    std::string text; // entry 2 holds the value 70000
};

void PrintTo(const TooWide& c, std::ostream* os) {
    *os << c.indexer << " " << c.feature;
}

class ValueOutOfRange : public ::testing::TestWithParam<TooWide> {};

TEST_P(ValueOutOfRange, EndsTheCallWithTheIndexFileBackToItsSize) {
    const TooWide& c = GetParam();
    const std::vector<std::uint64_t> starts = std::string(c.indexer) == "sam"
                                                  ? line_starts(c.text)
                                                  : starts_of_lines_beginning(c.text, "@");
    ASSERT_EQ(starts.size(), 3u);
    for (bool wide : {false, true}) {
        TempDir dir;
        const auto out = tmkit::run_feature(dir, c.indexer, c.feature, c.text, starts, wide);
        EXPECT_HX_ERROR(out.result, "helixo:traitmark:ValueOutOfRange",
                        "Value 70000 of entry 2 does not fit 2 bytes.");
        EXPECT_TRUE(out.prefix_kept);
        EXPECT_EQ(out.block, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Traitmark, ValueOutOfRange,
    ::testing::Values(
        TooWide{"sam", "QueryLength",
                sam_line("100", "10M") + sam_line("200", "5S69995M") + sam_line("300", "*")},
        TooWide{"fastq", "Length",
                "@a\nACGT\n+\nIIII\n@b\n" + std::string(70000, 'A') + "\n+\n@c\nAC\n+\nII\n"}));

struct BadCigar {
    const char* cigar;
    const char* feature;
};

void PrintTo(const BadCigar& c, std::ostream* os) {
    *os << c.feature << " " << c.cigar;
}

class InvalidCigar : public ::testing::TestWithParam<BadCigar> {};

TEST_P(InvalidCigar, EndsTheCallAtEntryFourKeepingThreeValues) {
    const BadCigar& c = GetParam();
    const std::string text = sam_line("100", "10M") + sam_line("200", "5S5M") +
                             sam_line("300", "*") + sam_line("400", c.cigar) +
                             sam_line("500", "10M");
    for (bool wide : {false, true}) {
        TempDir dir;
        const auto out = tmkit::run_feature(dir, "sam", c.feature, text, line_starts(text), wide);
        EXPECT_HX_ERROR(out.result, "helixo:traitmark:InvalidCIGAR", "Invalid CIGAR string.");
        EXPECT_TRUE(out.prefix_kept);
        const unsigned width = width_of(c.feature);
        EXPECT_EQ(decode(out.block, width), std::string(c.feature) == "QueryLength"
                                                ? (std::vector<std::uint32_t>{10, 10, 0})
                                                : (std::vector<std::uint32_t>{109, 204, 300}));
        EXPECT_EQ(out.result.polls.handle, 4);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Traitmark, InvalidCigar,
    ::testing::Values(BadCigar{"5=3B", "QueryLength"}, BadCigar{"5=3B", "EndPosition"},
                      BadCigar{"10m", "QueryLength"}, BadCigar{"10m", "EndPosition"},
                      BadCigar{"10M5", "QueryLength"}, BadCigar{"10M5", "EndPosition"},
                      BadCigar{"10M*", "QueryLength"}, BadCigar{"1x", "EndPosition"}));

TEST(SamFeatures, ValuesAreCutToTheirWidth) {
    const std::string text = sam_line("4294967396", "10M", "300", "70000") +
                             "r\t0\tchr1\t1\t0\t*\t*\t4294967303\t0\t*\t*\n";
    const auto starts = line_starts(text);
    EXPECT_EQ(values_of_feature("sam", "MappingQuality", text, starts, 1),
              (std::vector<std::uint32_t>{44, 0}));
    EXPECT_EQ(values_of_feature("sam", "Position", text, starts, 4),
              (std::vector<std::uint32_t>{100, 1}));
    EXPECT_EQ(values_of_feature("sam", "Flag", text, starts, 2),
              (std::vector<std::uint32_t>{70000 - 65536, 0}));
    EXPECT_EQ(values_of_feature("sam", "MatePosition", text, starts, 4),
              (std::vector<std::uint32_t>{0, 7}));
    EXPECT_EQ(values_of_feature("sam", "EndPosition", text, starts, 4),
              (std::vector<std::uint32_t>{109, 1}));
}

TEST(SamFeatures, ReferencesAreNumberedInOrderOfFirstAppearance) {
    std::string text;
    for (const char* name : {"chr2", "chr1", "*", "chr2"})
        text += std::string("r\t0\t") + name + "\t1\t0\t*\t*\t0\t0\t*\t*\n";
    EXPECT_EQ(values_of_feature("sam", "Reference", text, line_starts(text), 1),
              (std::vector<std::uint32_t>{1, 2, 0, 1}));
}

TEST(SamFeatures, TheTwoHundredFiftyFifthNewReferenceAndLaterOnesGet255) {
    std::string text;
    for (int k = 0; k < 300; ++k)
        text += "r\t0\tcontig" + std::to_string(k) + "\t1\t0\t*\t*\t0\t0\t*\t*\n";
    text += "r\t0\tcontig3\t1\t0\t*\t*\t0\t0\t*\t*\n";   // numbered before the cap
    text += "r\t0\tcontig299\t1\t0\t*\t*\t0\t0\t*\t*\n"; // met after the cap: never numbered
    const auto values = values_of_feature("sam", "Reference", text, line_starts(text), 1);
    ASSERT_EQ(values.size(), 302u);
    for (std::uint32_t k = 0; k < 300; ++k)
        EXPECT_EQ(values[k], std::min<std::uint32_t>(k + 1, 255)) << "entry " << k + 1;
    EXPECT_EQ(values[300], 4u);
    EXPECT_EQ(values[301], 255u);
}

TEST(SamFeatures, NumberingStartsAfreshWithEachCallAndFollowsTheOffsetsOrder) {
    std::string text;
    for (const char* name : {"chrA", "chrB", "chrC"})
        text += std::string("r\t0\t") + name + "\t1\t0\t*\t*\t0\t0\t*\t*\n";
    const auto starts = line_starts(text);
    EXPECT_EQ(values_of_feature("sam", "Reference", text, {starts[2], starts[0], starts[2]}, 1),
              (std::vector<std::uint32_t>{1, 2, 1}));
    EXPECT_EQ(values_of_feature("sam", "Reference", text, {starts[1]}, 1),
              (std::vector<std::uint32_t>{1}));
}

// Fields missing from the entry's line, or not parsing, give 0; they never come from the
// next line.
struct Unreadable {
    const char* name;
    const char* text;
    const char* feature;
};

void PrintTo(const Unreadable& u, std::ostream* os) {
    *os << u.name;
}

class UnreadableEntry : public ::testing::TestWithParam<Unreadable> {};

TEST_P(UnreadableEntry, GivesZeroAndTheNextEntryIsUntouched) {
    const std::string text = std::string(GetParam().text) + kLine;
    const auto starts = line_starts(text);
    const std::vector<std::uint64_t> offsets = {0, starts.back()};
    const auto values =
        values_of_feature("sam", GetParam().feature, text, offsets, width_of(GetParam().feature));
    const auto expected =
        values_of_feature("sam", GetParam().feature, kLine, {0}, width_of(GetParam().feature));
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0], 0u);
    EXPECT_EQ(values[1], expected[0]);
}

INSTANTIATE_TEST_SUITE_P(
    Traitmark, UnreadableEntry,
    ::testing::Values(
        Unreadable{"FlagOnTheNextLine", "r1\n", "Flag"}, Unreadable{"EmptyLine", "\n", "Flag"},
        Unreadable{"FlagNotANumber", "r1\tx99\tchr1\t100\n", "Flag"},
        Unreadable{"FlagWithTrailingLetters", "r1\t99x\tchr1\t100\n", "Flag"},
        Unreadable{"NegativeFlag", "r1\t-1\tchr1\t100\n", "Flag"},
        Unreadable{"PositionMissing", "r1\t99\tchr1\n", "Position"},
        Unreadable{"PositionAfterUnreadableFlag", "r1\tpaired\tchr1\t100\n", "Position"},
        Unreadable{"MapqMissing", "r1\t99\tchr1\t100\r\n", "MappingQuality"},
        Unreadable{"MatePositionMissing", "r1\t99\tchr1\t100\t60\t10M\t=\n", "MatePosition"},
        Unreadable{"MatePositionAfterBadMapq", "r1\t99\tchr1\t100\tsixty\t10M\t=\t300\n",
                   "MatePosition"},
        Unreadable{"CigarMissing", "r1\t99\tchr1\t100\t60\n", "QueryLength"},
        Unreadable{"PositionUnreadableBeforeCigar", "r1\t99\tchr1\tP\t60\t10M\n", "EndPosition"},
        Unreadable{"RnameMissing", "r1\t99\n", "Reference"},
        Unreadable{"RnameAfterBadFlag", "r1\tF\tchr1\n", "Reference"},
        Unreadable{"MateFlagMissing", "r1\n", "MateIndex"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(SamFeatures, OffsetsAtOrBeyondTheEndOfTheFileGiveZero) {
    const std::uint64_t size = kLine.size();
    for (bool wide : {false, true}) {
        std::vector<std::uint64_t> offsets = {0, size, size + 1, 0xFFFFFFFFu};
        if (wide) {
            offsets.push_back(std::uint64_t{1} << 40);
            offsets.push_back(~std::uint64_t{0});
        }
        offsets.push_back(0);
        for (const char* feature : {"Flag", "Position", "MappingQuality", "MatePosition",
                                    "QueryLength", "EndPosition", "Reference"}) {
            const auto values =
                values_of_feature("sam", feature, kLine, offsets, width_of(feature), wide);
            ASSERT_EQ(values.size(), offsets.size()) << feature;
            for (std::size_t k = 1; k + 1 < values.size(); ++k)
                EXPECT_EQ(values[k], 0u) << feature << " entry " << k + 1;
            EXPECT_EQ(values.front(), values.back()) << feature;
            EXPECT_NE(values.front(), 0u) << feature;
        }
    }
}

TEST(SamFeatures, CarriageReturnsAndAMissingFinalNewlineEndFieldsLikeBlanks) {
    const std::string crlf =
        "r1\t99\tchr1\t100\t60\t10M\r\nr2\t99\tchr1\t100\t60\t3S10M\t=\t300\r\n";
    const std::string no_final_newline = "r3\t99\tchr1\t200\t60\t10M\t=\t700";
    const std::string text = crlf + no_final_newline;
    const auto starts = line_starts(text);
    EXPECT_EQ(values_of_feature("sam", "QueryLength", text, starts, 2),
              (std::vector<std::uint32_t>{10, 13, 10}));
    EXPECT_EQ(values_of_feature("sam", "MatePosition", text, starts, 4),
              (std::vector<std::uint32_t>{0, 300, 700}));
    const std::string names = "r\t0\tchrM\r\nr\t0\tchrM\nr\t0\tchrX";
    EXPECT_EQ(values_of_feature("sam", "Reference", names, line_starts(names), 1),
              (std::vector<std::uint32_t>{1, 1, 2}));
}

TEST(SamFeatures, ColumnsAreSeparatedByAnyRunOfBlanksAndTabs) {
    const std::string text = "  r1 \t 99  chr1\t\t100 60 10M = 300\n";
    EXPECT_EQ(values_of_feature("sam", "Flag", text, {0}, 2), std::vector<std::uint32_t>{99});
    EXPECT_EQ(values_of_feature("sam", "MatePosition", text, {0}, 4),
              std::vector<std::uint32_t>{300});
}

TEST(SamFeatures, AnOffsetInsideALineReadsFromThere) {
    // Offset 3 starts at the FLAG column: it is taken as QNAME, RNAME as FLAG.
    const std::string text = "r1\t99\t17\t100\t60\t10M\n";
    EXPECT_EQ(values_of_feature("sam", "Flag", text, {3}, 2), std::vector<std::uint32_t>{17});
}

// A CIGAR of the given number of characters: "1M" repeated, after a "1" for an odd count (so
// the first operation is 11M).
std::string long_cigar(std::size_t characters) {
    std::string cigar;
    while (cigar.size() + 2 <= characters)
        cigar += "1M";
    if (cigar.size() < characters)
        cigar.insert(0, "1");
    return cigar;
}

class FieldTooLong : public ::testing::TestWithParam<std::string> {};

TEST_P(FieldTooLong, EndsTheCallAndCutsTheIndexFileBack) {
    const std::string feature = GetParam();
    auto line_with = [&](std::size_t length) {
        if (feature == "MateIndex")
            return std::string(length, 'q') + "\t99\tchr1\t1\t0\t*\t*\t0\n";
        return "r\t0\t" + std::string(length, 'c') + "\t1\t0\t*\t*\t0\n";
    };
    const std::string text = kLine + line_with(65535) + line_with(65536) + kLine;
    const auto starts = line_starts(text);
    for (bool wide : {false, true}) {
        TempDir dir;
        auto out = tmkit::run_feature(dir, "sam", feature, text, starts, wide);
        EXPECT_HX_ERROR(out.result, "helixo:traitmark:InvalidEntry", "Field too long in entry 3.");
        EXPECT_TRUE(out.prefix_kept);
        EXPECT_EQ(out.block, "") << "the index file is back at its starting size";
        out =
            tmkit::run_feature(dir, "sam", feature, text, {starts[0], starts[1], starts[3]}, wide);
        EXPECT_TRUE(out.result.ok) << "65,535 characters fit: " << out.result.message;
        EXPECT_EQ(out.block.size(), 3 * tmkit::width_of(feature));
    }
}

// The names a feature keeps (QNAME, RNAME) are held, and limited to 65,535 characters.
INSTANTIATE_TEST_SUITE_P(Traitmark, FieldTooLong, ::testing::Values("MateIndex", "Reference"));

// A CIGAR is walked as it is read: a long read's CIGAR of any length gives its values.
TEST(SamFeatures, CigarsOfAnyLengthAreWalkedWhole) {
    for (const std::size_t characters :
         {std::size_t{65535}, std::size_t{65536}, std::size_t{300001}}) {
        const std::size_t ops = characters / 2; // the first of them 11M when characters is odd
        const std::uint32_t bases = static_cast<std::uint32_t>(ops + (characters % 2 ? 10 : 0));
        const std::string text =
            kLine + "r\t0\tchr1\t100\t0\t" + long_cigar(characters) + "\t*\t0\n";
        const auto starts = line_starts(text);
        if (bases <= 65535) {
            EXPECT_EQ(values_of_feature("sam", "QueryLength", text, starts, 2),
                      (std::vector<std::uint32_t>{10, bases}))
                << characters;
        }
        EXPECT_EQ(values_of_feature("sam", "EndPosition", text, starts, 4),
                  (std::vector<std::uint32_t>{109, 100 + bases - 1}))
            << characters;
    }
}

TEST(SamFeatures, LongSkippedColumnsAreNoError) {
    const std::string text =
        std::string(200000, 'q') + "\t99\t" + std::string(100000, 'c') + "\t100\t60\t10M\t=\t300\n";
    EXPECT_EQ(values_of_feature("sam", "Flag", text, {0}, 2), std::vector<std::uint32_t>{99});
    EXPECT_EQ(values_of_feature("sam", "MatePosition", text, {0}, 4),
              std::vector<std::uint32_t>{300});
}

// The feature values of a generated file checked against pysam's parse of it.
const char kPysamScript[] = R"(
import sys, pysam
for r in pysam.AlignmentFile(sys.argv[1], "r"):
    span = sum(l for op, l in (r.cigartuples or []) if op in (0, 2, 3, 7, 8))
    if not r.is_unmapped:
        assert r.reference_end == r.reference_start + span
    end = r.reference_start + span if r.cigartuples else r.reference_start + 1
    print(r.flag, r.reference_start + 1, r.mapping_quality, r.next_reference_start + 1,
          r.infer_query_length() or 0, end, r.reference_id + 1)
)";

TEST(SamFeatures, AgreeWithPysamOnAGeneratedFile) {
    std::string available;
    if (!tmkit::run_pysam("import pysam\n", "", available))
        SKIP_OR_FAIL_WITHOUT_PEER("/usr/bin/python3 with pysam is not available");
    TempDir dir;
    const std::string sam = tmkit::paired_sam(20261208, 400);
    const std::string path = dir.write_text("generated.sam", sam);
    std::string printed;
    ASSERT_TRUE(tmkit::run_pysam(kPysamScript, path, printed));
    std::istringstream lines(printed);
    const char* features[] = {"Flag",        "Position",    "MappingQuality", "MatePosition",
                              "QueryLength", "EndPosition", "Reference"};
    std::vector<std::vector<std::uint32_t>> expected(7);
    for (std::int64_t value = 0; lines >> value;) {
        const std::size_t column = static_cast<std::size_t>(
            (expected[0].size() + expected[1].size() + expected[2].size() + expected[3].size() +
             expected[4].size() + expected[5].size() + expected[6].size()) %
            7);
        expected[column].push_back(static_cast<std::uint32_t>(value));
    }
    const auto starts = tmkit::alignment_starts(sam);
    ASSERT_EQ(expected[0].size(), starts.size());
    for (std::size_t f = 0; f < 7; ++f) {
        for (bool wide : {false, true}) {
            const auto values =
                values_of_feature("sam", features[f], sam, starts, width_of(features[f]), wide);
            std::vector<std::uint32_t> cut;
            for (std::uint32_t v : expected[f])
                cut.push_back(
                    width_of(features[f]) == 4 ? v : v & ((1u << (8 * width_of(features[f]))) - 1));
            EXPECT_EQ(values, cut) << features[f] << (wide ? " (64-bit offsets)" : "");
        }
    }
}

} // namespace
