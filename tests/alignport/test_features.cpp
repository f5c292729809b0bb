#include "bamkit.h"
#include "damaged_bam.h"
#include "peers.h"

#include <algorithm>
#include <memory>
#include <random>

using namespace testkit;

namespace {

const char* const kNames[] = {"Flag",      "Position",    "MappingQuality", "MatePosition",
                              "MateIndex", "QueryLength", "EndPosition",    "Signature",
                              "Sequence",  "Header",      "Quality"};
constexpr int kCount = 11;

std::string pattern(const char* alphabet, std::size_t n) {
    const std::string a(alphabet);
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s.push_back(a[(i * 5 + i / 7) % a.size()]);
    return s;
}

// One alignment as written in the fixture's SAM text, with every feature computed by hand.
struct Expected {
    std::string name;
    std::uint32_t flag, position, mapping_quality, mate_position, query_length, end_position;
    std::string signature, sequence, quality; // quality "" when the record has none
};

std::string sam_line(const Expected& e, const std::string& cigar, const std::string& rnext) {
    return e.name + "\t" + std::to_string(e.flag) + "\tchrK\t" + std::to_string(e.position) + "\t" +
           std::to_string(e.mapping_quality) + "\t" + cigar + "\t" + rnext + "\t" +
           std::to_string(e.mate_position) + "\t0\t" + e.sequence + "\t" +
           (e.quality.empty() ? "*" : e.quality) + "\n";
}

// chrK holds every kind of record the features must handle: insertions, a CIGAR of only S and
// I, an unmapped record placed without CIGAR, 9 bases without qualities, H/D/N/P operations,
// a record of 65,535 bases (the widest QueryLength) and = / X operations (matches, as M).
std::vector<Expected> kinds() {
    const std::string longest = pattern("ACGTN", 65535);
    return {
        {"k1", 99, 11, 60, 201, 17, 25, "10M2I5M", pattern("ACGT", 17), pattern("!+5?I", 17)},
        {"k2", 0, 21, 7, 0, 5, 20, "3S2I", "TTGCA", "IIII#"},
        {"k3", 4, 31, 0, 11, 6, 31, "*", "GATTAC", "((((()"},
        {"k4", 0, 41, 20, 0, 9, 49, "9M", "ACGTNMRWG", ""},
        {"k5", 0, 51, 255, 0, 7, 60, "2H4M1D2N1P3M4H", "CCCGGGA", "0123456"},
        {"k6", 0, 61, 30, 0, 65535, 61 + 65535 - 1, "65535M", longest, pattern("#5G", 65535)},
        {"k7", 16, 101, 30, 0, 10, 110, "5=2X3M", "ACGTACGTAC", "IIIIIIIIII"},
    };
}

std::string kinds_sam() {
    const auto all = kinds();
    const char* cigars[] = {"10M2I5M", "3S2I", "*", "9M", "2H4M1D2N1P3M4H", "65535M", "5=2X3M"};
    const char* rnext[] = {"=", "*", "=", "*", "*", "*", "*"};
    std::string sam = bamkit::sam_header({{"chrK", 80000}, {"chrL", 1000}});
    for (std::size_t k = 0; k < all.size(); ++k)
        sam += sam_line(all[k], cigars[k], rnext[k]);
    sam += "l1\t0\tchrL\t5\t30\t4M\t*\t0\t0\tACGT\tIIII\n";
    sam += "u1\t4\t*\t0\t0\t*\t*\t0\t0\tACGT\tIIII\nu2\t4\t*\t0\t0\t*\t*\t0\t0\tAC\tII\n";
    return sam;
}

// The 1-based starts of a reference from getstartsinref, less one: the starts vector.
std::vector<std::int32_t> starts_of(const std::string& bam, int ref) {
    auto r = call("alignport", 1, args("getstartsinref", bam, bam + ".bai", ref));
    EXPECT_TRUE(r.ok) << r.identifier;
    std::vector<std::int32_t> starts;
    if (r.ok) {
        for (std::uint32_t s : hxhost::values_of<std::uint32_t>(r.outputs[0].get()))
            starts.push_back(static_cast<std::int32_t>(s) - 1);
    }
    return starts;
}

hxhost::CallResult features(const std::string& bam, const std::vector<std::string>& names, int ref,
                            const std::vector<std::uint32_t>& index,
                            const std::vector<std::int32_t>& starts,
                            const hxhost::CallOptions& options = {}) {
    return call("alignport", static_cast<int>(names.size()),
                args("getfeaturesinrefbyindex", bam, bam + ".bai", cell_of(names), ref, u32(index),
                     i32(starts)),
                options);
}

hxhost::CallResult feature(const std::string& bam, const std::string& name, int ref,
                           const std::vector<std::uint32_t>& index,
                           const std::vector<std::int32_t>& starts, int nout = 1,
                           const hxhost::CallOptions& options = {}) {
    return call(
        "alignport", nout,
        args("getfeatureinrefbyindex", bam, bam + ".bai", name, ref, u32(index), i32(starts)),
        options);
}

// Texts of an m-by-1 cell output ("<unset>" for a cell never filled).
std::vector<std::string> texts(const haArray* cell) {
    std::vector<std::string> out;
    for (haSize k = 0; k < haGetNumberOfElements(cell); ++k) {
        const haArray* e = haGetCell(cell, k);
        out.push_back(e == nullptr ? "<unset>" : hxhost::text_of(e));
    }
    return out;
}

// Values of a numeric output widened to 32 bits, whatever its class.
std::vector<std::uint32_t> numbers(const haArray* a) {
    std::vector<std::uint32_t> out;
    for (haSize k = 0; k < haGetNumberOfElements(a); ++k) {
        switch (haGetClassID(a)) {
        case haUINT8_CLASS:
            out.push_back(static_cast<const std::uint8_t*>(haGetData(a))[k]);
            break;
        case haUINT16_CLASS:
            out.push_back(static_cast<const std::uint16_t*>(haGetData(a))[k]);
            break;
        default:
            out.push_back(static_cast<const std::uint32_t*>(haGetData(a))[k]);
            break;
        }
    }
    return out;
}

haClassID class_of(int code) {
    const haClassID classes[kCount] = {haUINT16_CLASS, haUINT32_CLASS, haUINT8_CLASS,
                                       haUINT32_CLASS, haUINT32_CLASS, haUINT16_CLASS,
                                       haUINT32_CLASS, haCELL_CLASS,   haCELL_CLASS,
                                       haCELL_CLASS,   haCELL_CLASS};
    return classes[code];
}

// Expected column of one feature for the chosen alignments; missing qualities as blank (the
// single service) or as character 288 (the multi service), which UTF-8 encodes as C4 A0.
std::vector<std::uint32_t> expected_numbers(int code, const std::vector<Expected>& rows) {
    std::vector<std::uint32_t> out;
    for (const Expected& e : rows) {
        const std::uint32_t v[] = {e.flag,          e.position,      e.mapping_quality,
                                   e.mate_position, e.mate_position, e.query_length,
                                   e.end_position};
        out.push_back(v[code]);
    }
    return out;
}

std::vector<std::string> expected_texts(int code, const std::vector<Expected>& rows, bool multi) {
    std::vector<std::string> out;
    for (const Expected& e : rows) {
        if (code == 7)
            out.push_back(e.signature);
        else if (code == 8)
            out.push_back(e.sequence);
        else if (code == 9)
            out.push_back(e.name);
        else if (!e.quality.empty())
            out.push_back(e.quality);
        else {
            std::string missing;
            for (std::size_t i = 0; i < e.sequence.size(); ++i)
                missing += multi ? "\xC4\xA0" : " ";
            out.push_back(missing);
        }
    }
    return out;
}

void expect_feature(const haArray* out, int code, const std::vector<Expected>& rows, bool multi) {
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(haGetClassID(out), class_of(code)) << kNames[code];
    EXPECT_EQ(hxhost::dims_of(out), (std::vector<haSize>{rows.size(), 1})) << kNames[code];
    if (code < 7)
        EXPECT_EQ(numbers(out), expected_numbers(code, rows)) << kNames[code];
    else
        EXPECT_EQ(texts(out), expected_texts(code, rows, multi)) << kNames[code];
}

class FeatureKinds : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        bam_ = bamkit::make_bam(*dir_, "kinds", kinds_sam());
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static TempDir* dir_;
    static std::string bam_;
};
TempDir* FeatureKinds::dir_ = nullptr;
std::string FeatureKinds::bam_;

TEST_F(FeatureKinds, StartsNumberEveryPlacedRecordOfTheReference) {
    EXPECT_EQ(starts_of(bam_, 0), (std::vector<std::int32_t>{10, 20, 30, 40, 50, 60, 100}));
}

class EachFeature : public FeatureKinds, public ::testing::WithParamInterface<int> {};

TEST_P(EachFeature, SingleServiceMatchesTheSamText) {
    const int code = GetParam();
    auto r = feature(bam_, kNames[code], 0, {1, 2, 3, 4, 5, 6, 7}, starts_of(bam_, 0));
    ASSERT_TRUE(r.ok) << r.identifier << " " << r.message;
    expect_feature(r.outputs[0].get(), code, kinds(), false);
    EXPECT_EQ(r.polls.is_pending, 7);
    EXPECT_EQ(r.polls.handle, 0);
}

TEST_P(EachFeature, SingleServiceWithoutOutputTestsInputsButDoesNotFetch) {
    auto r = feature(bam_, kNames[GetParam()], 0, {2, 5}, starts_of(bam_, 0), 0);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.outputs.empty());
    EXPECT_EQ(r.polls.is_pending, 0);
}

INSTANTIATE_TEST_SUITE_P(AllEleven, EachFeature, ::testing::Range(0, kCount),
                         [](const auto& row) { return std::string(kNames[row.param]); });

TEST_F(FeatureKinds, MultiServiceFillsEveryFeatureInTheOrderOfTheNames) {
    std::vector<int> order = {10, 3, 7, 0, 9, 5, 1, 8, 2, 6, 4};
    std::vector<std::string> names;
    for (int code : order)
        names.push_back(kNames[code]);
    auto r = features(bam_, names, 0, {1, 2, 3, 4, 5, 6, 7}, starts_of(bam_, 0));
    ASSERT_TRUE(r.ok) << r.identifier << " " << r.message;
    ASSERT_EQ(r.outputs.size(), order.size());
    for (std::size_t k = 0; k < order.size(); ++k)
        expect_feature(r.outputs[k].get(), order[k], kinds(), true);
}

TEST_F(FeatureKinds, SubsetOfRowsFollowsTheWantedNumbers) {
    const auto all = kinds();
    auto r = features(bam_, {"Header", "EndPosition"}, 0, {3, 4, 6}, starts_of(bam_, 0));
    ASSERT_TRUE(r.ok);
    expect_feature(r.outputs[0].get(), 9, {all[2], all[3], all[5]}, true);
    expect_feature(r.outputs[1].get(), 6, {all[2], all[3], all[5]}, true);
}

TEST_F(FeatureKinds, QualityFirstAndFlagSecondComeBackInThatOrder) {
    const auto all = kinds();
    auto r = features(bam_, {"Quality", "Flag"}, 0, {4}, starts_of(bam_, 0));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(haGetClassID(r.outputs[0].get()), haCELL_CLASS);
    EXPECT_EQ(hxhost::values_of<std::uint16_t>(r.outputs[1].get()),
              (std::vector<std::uint16_t>{0}));
    // Nine bases without qualities: character 288 from the multi service, a blank from the single.
    const haArray* q = haGetCell(r.outputs[0].get(), 0);
    EXPECT_EQ(hxhost::dims_of(q), (std::vector<haSize>{1, 9}));
    EXPECT_EQ(static_cast<const haChar*>(haGetData(q))[8], 288);
    auto single = feature(bam_, "Quality", 0, {4}, starts_of(bam_, 0));
    ASSERT_TRUE(single.ok);
    EXPECT_EQ(static_cast<const haChar*>(haGetData(haGetCell(single.outputs[0].get(), 0)))[8], 32);
}

TEST_F(FeatureKinds, StartsMayComeAsUint32) {
    std::vector<std::uint32_t> starts;
    for (std::int32_t s : starts_of(bam_, 0))
        starts.push_back(static_cast<std::uint32_t>(s));
    auto r = call(
        "alignport", 1,
        args("getfeatureinrefbyindex", bam_, bam_ + ".bai", "Header", 0, u32({2, 7}), u32(starts)));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(texts(r.outputs[0].get()), (std::vector<std::string>{"k2", "k7"}));
}

// --- choosing alignments by number ---

// chrW is the eight-alignment example: 0-based starts 100, 100, 150, 150, 150, 200, 210, 300,
// alignment 2 reaching to 180. chrZ has a record covering no reference base at 150 as number 2.
std::string windows_sam() {
    std::string sam = bamkit::sam_header({{"chrW", 1000}, {"chrZ", 1000}});
    const int w[] = {101, 101, 151, 151, 151, 201, 211, 301};
    for (int k = 0; k < 8; ++k) {
        const bool reaching = k == 1;
        sam += "w" + std::to_string(k + 1) + "\t0\tchrW\t" + std::to_string(w[k]) + "\t30\t" +
               (reaching ? "81M" : "10M") + "\t*\t0\t0\t" + pattern("ACGT", reaching ? 81 : 10) +
               "\t*\n";
    }
    sam += "z1\t0\tchrZ\t101\t30\t10M\t*\t0\t0\tACGTACGTAC\t*\n"
           "z2\t0\tchrZ\t151\t30\t5S\t*\t0\t0\tACGTA\t*\n"
           "z3\t0\tchrZ\t151\t30\t10M\t*\t0\t0\tACGTACGTAC\t*\n"
           "z4\t0\tchrZ\t161\t30\t10M\t*\t0\t0\tACGTACGTAC\t*\n";
    return sam;
}

struct WindowCase {
    const char* label;
    int ref;
    std::vector<std::uint32_t> index;
    std::vector<std::string> headers; // rows, "<unset>" where no alignment fills one
    long deliveries;                  // alignments the window fetch delivers (one poll each)
};

void PrintTo(const WindowCase& c, std::ostream* os) {
    *os << c.label;
}

class Windows : public ::testing::TestWithParam<WindowCase> {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        bam_ = bamkit::make_bam(*dir_, "windows", windows_sam());
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static TempDir* dir_;
    static std::string bam_;
};
TempDir* Windows::dir_ = nullptr;
std::string Windows::bam_;

TEST_P(Windows, RowsHoldTheWantedAlignmentsAfterOneWindowedFetch) {
    const WindowCase& c = GetParam();
    const auto starts = starts_of(bam_, c.ref);
    auto r = features(bam_, {"Header", "Position"}, c.ref, c.index, starts);
    ASSERT_TRUE(r.ok) << r.identifier << " " << r.message;
    EXPECT_EQ(texts(r.outputs[0].get()), c.headers);
    EXPECT_EQ(r.polls.is_pending, c.deliveries);
    auto single = feature(bam_, "Header", c.ref, c.index, starts);
    ASSERT_TRUE(single.ok);
    EXPECT_EQ(texts(single.outputs[0].get()), c.headers);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Windows,
    ::testing::Values(
        // Alignment 2 reaches into [150, 301) and is passed over; alignment 3 is the skip.
        WindowCase{"WorkedExample", 0, {4, 6, 8}, {"w4", "w6", "w8"}, 7},
        WindowCase{"FirstAlignment", 0, {1}, {"w1"}, 2},
        WindowCase{"DuplicatesAtTheFirstStart", 0, {5, 6}, {"w5", "w6"}, 5},
        WindowCase{"SecondOfTwoAtTheFirstStart", 0, {2, 7}, {"w2", "w7"}, 7},
        WindowCase{"LastAlone", 0, {8}, {"w8"}, 1},
        WindowCase{"Everything",
                   0,
                   {1, 2, 3, 4, 5, 6, 7, 8},
                   {"w1", "w2", "w3", "w4", "w5", "w6", "w7", "w8"},
                   8},
        WindowCase{"RepeatedNumberFillsOnce", 0, {3, 3}, {"w3", "<unset>"}, 4},
        WindowCase{"DecreasingNumbersFetchNothing", 0, {6, 4}, {"<unset>", "<unset>"}, 0},
        WindowCase{"ZeroSpanFirstWanted", 1, {2, 4}, {"z2", "z4"}, 3},
        WindowCase{"ZeroSpanIsTheSkip", 1, {3}, {"z3"}, 2},
        WindowCase{"ZeroSpanAlone", 1, {2}, {"z2"}, 2}),
    [](const auto& row) { return std::string(row.param.label); });

TEST_F(Windows, ZeroFeaturesStillWalkTheWindow) {
    auto r = features(bam_, {}, 0, {4, 6, 8}, starts_of(bam_, 0));
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.outputs.empty());
    EXPECT_EQ(r.polls.is_pending, 7);
}

struct InterruptCase {
    bool multi;
    long k;
};

void PrintTo(const InterruptCase& c, std::ostream* os) {
    *os << (c.multi ? "getfeaturesinrefbyindex" : "getfeatureinrefbyindex") << " at poll " << c.k;
}

class FeatureInterrupts : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(FeatureInterrupts, StopAtPollKGivesTheUsersStopAndNoOutputs) {
    TempDir dir;
    const std::string bam = bamkit::make_bam(dir, "w", windows_sam());
    const auto starts = starts_of(bam, 0);
    hxhost::CallOptions options;
    options.interrupt_at = GetParam().k;
    auto r = GetParam().multi ? features(bam, {"Flag", "Sequence"}, 0, {4, 6, 8}, starts, options)
                              : feature(bam, "Sequence", 0, {4, 6, 8}, starts, 1, options);
    EXPECT_HX_ERROR(r, "helixo:alignport:IterruptedByUser", "Operation terminated by user.");
    EXPECT_TRUE(r.outputs.empty());
    EXPECT_EQ(r.polls.is_pending, GetParam().k); // the poll comes first; nothing after the stop
    EXPECT_EQ(r.polls.handle, 1);
}

INSTANTIATE_TEST_SUITE_P(SeveralK, FeatureInterrupts,
                         ::testing::Values(InterruptCase{true, 1}, InterruptCase{true, 3},
                                           InterruptCase{true, 7}, InterruptCase{false, 1},
                                           InterruptCase{false, 4}, InterruptCase{false, 7}));

TEST(FeatureInterrupts, AStopAfterTheLastDeliveryIsNotSeen) {
    TempDir dir;
    const std::string bam = bamkit::make_bam(dir, "w", windows_sam());
    hxhost::CallOptions options;
    options.interrupt_at = 8;
    auto r = features(bam, {"Flag"}, 0, {4, 6, 8}, starts_of(bam, 0), options);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.polls.is_pending, 7);
    EXPECT_EQ(r.polls.handle, 0);
}

// A QueryLength wider than its uint16 column ends the call naming the alignment; the record's
// other features still come back.
TEST(FeaturesOfALongRead, QueryLengthBeyond65535IsValueOutOfRangeInBothServices) {
    TempDir dir;
    const std::string sam =
        bamkit::sam_header({{"chrK", 80000}}) + "a\t0\tchrK\t5\t30\t4M\t*\t0\t0\tACGT\tIIII\n" +
        "b\t0\tchrK\t9\t30\t70000M\t*\t0\t0\t" + pattern("ACGT", 70000) + "\t*\n";
    const std::string bam = bamkit::make_bam(dir, "long", sam);
    const auto starts = starts_of(bam, 0);
    auto single = feature(bam, "QueryLength", 0, {1, 2}, starts);
    EXPECT_HX_ERROR(
        single, "helixo:alignport:getfeatureinrefbyindex:ValueOutOfRange",
        "getfeatureinrefbyindex: QueryLength of alignment 2 is 70000, more than 65535.");
    auto multi = features(bam, {"Flag", "QueryLength"}, 0, {2}, starts);
    EXPECT_HX_ERROR(
        multi, "helixo:alignport:getfeaturesinrefbyindex:ValueOutOfRange",
        "getfeaturesinrefbyindex: QueryLength of alignment 2 is 70000, more than 65535.");
    auto first = feature(bam, "QueryLength", 0, {1}, starts);
    ASSERT_TRUE(first.ok) << first.message;
    EXPECT_EQ(numbers(first.outputs[0].get()), std::vector<std::uint32_t>{4});
    auto end = features(bam, {"EndPosition", "Sequence"}, 0, {2}, starts);
    ASSERT_TRUE(end.ok) << end.message;
    EXPECT_EQ(numbers(end.outputs[0].get()), std::vector<std::uint32_t>{9 + 70000 - 1});
}

TEST(FeaturesOfTruncatedFile, AreACorruptedFileNotAnInterrupt) {
    TempDir dir;
    const std::string whole = bamkit::make_bam(dir, "whole", bamkit::generated_sam(11, 1, 6000));
    const auto starts = starts_of(whole, 0);
    const std::string cut = damaged::truncated_copy(dir, whole, "cut", 0.6);
    auto multi = features(cut, {"Flag", "Header"}, 0, {100, 5990}, starts);
    EXPECT_HX_ERROR(multi, "helixo:alignport:CorruptedBAMFile", "BAM file is corrupted.");
    EXPECT_EQ(multi.polls.handle, 0);
    auto single = feature(cut, "Flag", 0, {100, 5990}, starts);
    EXPECT_HX_ERROR(single, "helixo:alignport:CorruptedBAMFile", "BAM file is corrupted.");
    EXPECT_EQ(single.polls.handle, 0);
}

TEST(FeaturesAgainstPysam, EveryFeatureOfChosenAlignmentsAgrees) {
    TempDir dir;
    const std::string bam = bamkit::make_bam(dir, "gen", bamkit::generated_sam(9, 2, 1500, 60));
    const auto all = peers::pysam_fetch(dir, bam, 1);
    ASSERT_EQ(all.size(), 1500u);
    std::mt19937 rng(17);
    std::vector<std::uint32_t> index;
    for (std::uint32_t n = 1; n <= 1500; ++n) {
        if (rng() % 9 == 0)
            index.push_back(n);
    }
    std::vector<Expected> rows;
    for (std::uint32_t n : index) {
        const peers::PeerAlignment& a = all[n - 1];
        rows.push_back({a.name, a.flag, a.position, a.mapping_quality, a.mate_position,
                        a.query_length & 0xFFFFu, a.end_position, a.cigar, a.sequence, a.quality});
    }
    std::vector<std::string> names(kNames, kNames + kCount);
    std::reverse(names.begin(), names.end());
    const auto starts = starts_of(bam, 1);
    auto r = features(bam, names, 1, index, starts);
    ASSERT_TRUE(r.ok) << r.identifier;
    for (int k = 0; k < kCount; ++k)
        expect_feature(r.outputs[static_cast<std::size_t>(k)].get(), kCount - 1 - k, rows, true);
    for (int code = 0; code < kCount; ++code) {
        auto single = feature(bam, kNames[code], 1, index, starts);
        ASSERT_TRUE(single.ok);
        expect_feature(single.outputs[0].get(), code, rows, false);
    }
}

} // namespace
