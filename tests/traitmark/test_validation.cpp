// The nine inputs are checked in a fixed order; the first failing check raises its error,
// and no error of the table changes the index file.
#include "error_order.h"
#include "traitmark_kit.h"

#include <sys/stat.h>

#include <functional>
#include <iterator>

using namespace testkit;

namespace {

const char kSam[] = "r1\t99\tchr1\t100\t60\t10M\t=\t300\t0\tACGTACGTAC\tIIIIIIIIII\n";
const char kIndexContent[] = "existing index content";

struct Files {
    TempDir dir;
    std::string sam = dir.write_text("x.sam", kSam);
    std::string index = dir.write_text("x.idx", kIndexContent);
    std::string folder = dir.file("folder");
    Files() { ::mkdir(folder.c_str(), 0700); }
};

struct Call {
    int out_count = 0;
    Inputs in;
};

// The call as a user would get it wrong from first to last check; each step of the table
// repairs one more check, so the next one in order is the first to fail.
Call broken_call(const Files& f, int repaired) {
    Call c;
    c.out_count = repaired >= 2 ? 0 : 1;
    c.in = args(1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, hxhost::make_logical(true), u32({0}));
    if (repaired < 1)
        c.in.pop_back();
    const std::vector<std::function<void(Inputs&)>> repairs = {
        nullptr,
        nullptr,
        [](Inputs& in) { in[0] = text("SAM"); },
        [](Inputs& in) { in[0] = text("sam"); },
        [](Inputs& in) { in[1] = text("Length"); },
        [](Inputs& in) { in[1] = text("Flag"); },
        [](Inputs& in) { in[2] = text("double"); },
        [](Inputs& in) { in[2] = text("uint16"); },
        [&](Inputs& in) { in[3] = text(f.dir.file("missing.sam")); },
        [&](Inputs& in) { in[3] = text(f.sam); },
        [&](Inputs& in) { in[4] = text(f.dir.file("missing.idx")); },
        [&](Inputs& in) { in[4] = text(f.folder); },
        [&](Inputs& in) { in[4] = text(f.index); },
        [](Inputs& in) { in[6] = u32({1}); },
        [](Inputs& in) { in[8] = u64({0}); },
    };
    for (int k = 2; k < repaired && k < static_cast<int>(repairs.size()); ++k)
        repairs[static_cast<std::size_t>(k)](c.in);
    return c;
}

struct Expected {
    const char* label; // the first check the step's call fails
    const char* identifier;
    const char* message;
};

const Expected kInOrder[] = {
    {"eight inputs", "helixo:traitmark:InvalidNumInputArg", "Nine input arguments required."},
    {"one output", "helixo:traitmark:InvalidNumOutputArg", "Too many output arguments."},
    {"numeric indexer type", "helixo:traitmark:InvalidIndexerType", "Invalid indexer type."},
    {"indexer type in capitals", "helixo:traitmark:UnknownIndexerType", "Unknown indexer type."},
    {"numeric feature name", "helixo:traitmark:InvalidFeatureName", "Invalid feature name."},
    {"feature not of SAM", "helixo:traitmark:UnknownSamFeatureType",
     "Unknown feature name in SAM format."},
    {"numeric feature type", "helixo:traitmark:InvalidFeatureType", "Invalid feature type."},
    {"feature type double", "helixo:traitmark:UnknownFeatureType", "Unknown feature type."},
    {"numeric input file name", "helixo:traitmark:InvalidFileName", "Invalid input file name."},
    {"missing input file", "helixo:traitmark:CannotOpenInFile", "Could not open input file."},
    {"numeric index file name", "helixo:traitmark:InvalidFileName", "Invalid index file name."},
    {"missing index file", "helixo:traitmark:CannotOpenIdxFile",
     "Could not open output index file."},
    {"index file a folder", "helixo:traitmark:CannotOpenIdxFile",
     "Could not open output index file."},
    {"numeric entry count", "helixo:traitmark:InvalidNumEntries", "Invalid number of entries."},
    {"narrow offsets for the wide flag", "helixo:traitmark:InvalidOffset", "Invalid ofsets."},
};

TEST(ChecksInOrder, FirstFailingCheckRaisesItsErrorAndLeavesTheIndexFileAlone) {
    Files f;
    std::vector<ErrorRow> rows;
    for (std::size_t step = 0; step < std::size(kInOrder); ++step) {
        Call c = broken_call(f, static_cast<int>(step));
        rows.push_back(error_row(kInOrder[step].label, c.out_count, std::move(c.in),
                                 kInOrder[step].identifier, kInOrder[step].message));
    }
    const RowChecks index_alone = {{}, [&](const hxhost::CallResult& r) {
                                       EXPECT_EQ(read_file(f.index), kIndexContent);
                                       EXPECT_FALSE(file_exists(f.dir.file("missing.idx")))
                                           << "the index file is never created";
                                       EXPECT_EQ(r.polls.handle, 0)
                                           << "nothing is extracted after a failed check";
                                   }};
    expect_errors_in_order("traitmark", rows, index_alone);
}

TEST(ChecksInOrderEnd, CallWithEveryCheckRepairedSucceeds) {
    Files f;
    const Call c = broken_call(f, static_cast<int>(std::size(kInOrder)));
    const auto r = call("traitmark", c.out_count, c.in);
    ASSERT_TRUE(r.ok) << r.identifier << ": " << r.message;
    EXPECT_EQ(read_file(f.index), std::string(kIndexContent) + std::string("c\0", 2));
}

// One input varied on an otherwise valid call: an error, or a call that succeeds.
struct Variant {
    const char* name;
    std::function<void(Call&, const Files&)> change;
    const char* identifier; // null: the call succeeds
    const char* message;
};

Call valid_call(const Files& f) {
    Call c;
    c.in = args("sam", "Flag", "uint16", f.sam, f.index, hxhost::make_double(0), u32({1}),
                hxhost::make_logical(false), u32({0}));
    return c;
}

std::string repeat(char c, std::size_t n) {
    return std::string(n, c);
}

const Variant kVariants[] = {
    {"TenInputs", [](Call& c, const Files&) { c.in.push_back(text("extra")); },
     "helixo:traitmark:InvalidNumInputArg", "Nine input arguments required."},
    {"EightInputsWithAnOutput",
     [](Call& c, const Files&) {
         c.in.pop_back();
         c.out_count = 1;
     },
     "helixo:traitmark:InvalidNumInputArg", "Nine input arguments required."},
    {"OneOutputOfAValidCall", [](Call& c, const Files&) { c.out_count = 1; },
     "helixo:traitmark:InvalidNumOutputArg", "Too many output arguments."},
    {"IndexerTypeOf128Characters", [](Call& c, const Files&) { c.in[0] = text(repeat('s', 128)); },
     "helixo:traitmark:InvalidIndexerType", "Invalid indexer type."},
    {"IndexerTypeOf127Characters", [](Call& c, const Files&) { c.in[0] = text(repeat('s', 127)); },
     "helixo:traitmark:UnknownIndexerType", "Unknown indexer type."},
    {"IndexerTypeInMixedCase", [](Call& c, const Files&) { c.in[0] = text("Sam"); },
     "helixo:traitmark:UnknownIndexerType", "Unknown indexer type."},
    {"IndexerTypeWithTrailingBlank", [](Call& c, const Files&) { c.in[0] = text("sam "); },
     "helixo:traitmark:UnknownIndexerType", "Unknown indexer type."},
    {"EmptyIndexerType", [](Call& c, const Files&) { c.in[0] = text(""); },
     "helixo:traitmark:UnknownIndexerType", "Unknown indexer type."},
    {"FeatureNameOf128Characters", [](Call& c, const Files&) { c.in[1] = text(repeat('F', 128)); },
     "helixo:traitmark:InvalidFeatureName", "Invalid feature name."},
    {"FeatureNameAsCell", [](Call& c, const Files&) { c.in[1] = cell_of({"Flag"}); },
     "helixo:traitmark:InvalidFeatureName", "Invalid feature name."},
    {"FeatureNameInLowerCase", [](Call& c, const Files&) { c.in[1] = text("flag"); },
     "helixo:traitmark:UnknownSamFeatureType", "Unknown feature name in SAM format."},
    {"FlagForFasta", [](Call& c, const Files&) { c.in[0] = text("fasta"); },
     "helixo:traitmark:UnknownFastaFeatureType", "Unknown feature name in FASTA format."},
    {"FlagForFastq", [](Call& c, const Files&) { c.in[0] = text("fastq"); },
     "helixo:traitmark:UnknownFastqFeatureType", "Unknown feature name in FASTQ format."},
    {"FeatureTypeOf128Characters", [](Call& c, const Files&) { c.in[2] = text(repeat('u', 128)); },
     "helixo:traitmark:InvalidFeatureType", "Invalid feature type."},
    {"FeatureTypeInCapitals", [](Call& c, const Files&) { c.in[2] = text("UINT8"); },
     "helixo:traitmark:UnknownFeatureType", "Unknown feature type."},
    {"FeatureTypeChar", [](Call& c, const Files&) { c.in[2] = text("char"); }, nullptr, nullptr},
    {"InputFileNameOf256Characters",
     [](Call& c, const Files&) { c.in[3] = text(repeat('a', 256)); },
     "helixo:traitmark:InvalidFileName", "Invalid input file name."},
    {"InputFileNameOf255Characters",
     [](Call& c, const Files&) { c.in[3] = text("/" + repeat('a', 254)); },
     "helixo:traitmark:CannotOpenInFile", "Could not open input file."},
    {"IndexFileNameOf256Characters",
     [](Call& c, const Files&) { c.in[4] = text(repeat('a', 256)); },
     "helixo:traitmark:InvalidFileName", "Invalid index file name."},
    {"CountAsDoubleScalar", [](Call& c, const Files&) { c.in[6] = num(1); },
     "helixo:traitmark:InvalidNumEntries", "Invalid number of entries."},
    {"CountAsOneByTwoArray",
     [](Call& c, const Files&) {
         c.in[6] = hxhost::make_numeric<std::uint32_t>(haUINT32_CLASS, {1, 1}, {1, 2});
     },
     "helixo:traitmark:InvalidNumEntries", "Invalid number of entries."},
    {"CountAsInt32", [](Call& c, const Files&) { c.in[6] = i32({1}); },
     "helixo:traitmark:InvalidNumEntries", "Invalid number of entries."},
    {"WideFlagWithNarrowOffsets",
     [](Call& c, const Files&) { c.in[7] = hxhost::make_logical(true); },
     "helixo:traitmark:InvalidOffset", "Invalid ofsets."},
    {"NarrowFlagWithWideOffsets", [](Call& c, const Files&) { c.in[8] = u64({0}); },
     "helixo:traitmark:InvalidOffset", "Invalid ofsets."},
    {"WideFlagAsTwo",
     [](Call& c, const Files&) {
         c.in[7] = num(2);
         c.in[8] = u64({0});
     },
     nullptr, nullptr},
    {"WideFlagAs256SelectsNarrowOffsets", [](Call& c, const Files&) { c.in[7] = num(256); },
     nullptr, nullptr},
    {"WideFlagAs256WithWideOffsets",
     [](Call& c, const Files&) {
         c.in[7] = num(256);
         c.in[8] = u64({0});
     },
     "helixo:traitmark:InvalidOffset", "Invalid ofsets."},
    {"FewerOffsetsThanEntries", [](Call& c, const Files&) { c.in[6] = u32({2}); },
     "helixo:traitmark:InvalidOffset", "Invalid ofsets."},
    {"OffsetsAsDouble", [](Call& c, const Files&) { c.in[8] = dbl({0}); },
     "helixo:traitmark:InvalidOffset", "Invalid ofsets."},
    {"ComplexOffsets",
     [](Call& c, const Files&) {
         auto a = hxhost::make_array(haUINT32_CLASS, {1, 1}, true);
         c.in[8] = std::move(a);
     },
     "helixo:traitmark:InvalidOffset", "Invalid ofsets."},
    {"OffsetsAsMatrix",
     [](Call& c, const Files&) {
         c.in[8] = hxhost::make_numeric<std::uint32_t>(haUINT32_CLASS, {0, 0, 0, 0}, {2, 2});
     },
     "helixo:traitmark:InvalidOffset", "Invalid ofsets."},
    {"OffsetsAsRow",
     [](Call& c, const Files&) {
         c.in[8] = hxhost::make_numeric<std::uint32_t>(haUINT32_CLASS, {0, 0}, {1, 2});
     },
     nullptr, nullptr},
    {"FastaLengthWithOnlyNOffsets",
     [](Call& c, const Files&) {
         c.in[0] = text("fasta");
         c.in[1] = text("Length");
     },
     "helixo:traitmark:InvalidOffset", "Invalid ofsets."},
    {"NoEntriesWithEmptyOffsets",
     [](Call& c, const Files&) {
         c.in[6] = u32({0});
         c.in[8] = hxhost::make_array(haUINT32_CLASS, {0, 0});
     },
     nullptr, nullptr},
    {"NoEntriesWithOffsetsOfTheWrongClass",
     [](Call& c, const Files&) {
         c.in[6] = u32({0});
         c.in[8] = hxhost::make_array(haUINT64_CLASS, {0, 0});
     },
     "helixo:traitmark:InvalidOffset", "Invalid ofsets."},
};

void PrintTo(const Variant& v, std::ostream* os) {
    *os << v.name;
}

// The variants that raise an error, as one table: the index file stays as it was.
TEST(OneInputVariedErrors, EachRaisesItsErrorAndLeavesTheIndexFileAlone) {
    Files f;
    std::vector<ErrorRow> rows;
    for (const Variant& v : kVariants) {
        if (v.identifier == nullptr)
            continue;
        Call c = valid_call(f);
        v.change(c, f);
        rows.push_back(error_row(v.name, c.out_count, std::move(c.in), v.identifier, v.message));
    }
    const RowChecks index_alone = {
        {}, [&](const hxhost::CallResult&) { EXPECT_EQ(read_file(f.index), kIndexContent); }};
    expect_errors_in_order("traitmark", rows, index_alone);
}

std::vector<Variant> accepted_variants() {
    std::vector<Variant> accepted;
    for (const Variant& v : kVariants) {
        if (v.identifier == nullptr)
            accepted.push_back(v);
    }
    return accepted;
}

class OneInputVaried : public ::testing::TestWithParam<Variant> {};

TEST_P(OneInputVaried, IsAcceptedAndWritesOneValueAnEntry) {
    Files f;
    Call c = valid_call(f);
    GetParam().change(c, f);
    const auto r = call("traitmark", c.out_count, c.in);
    ASSERT_TRUE(r.ok) << r.identifier << ": " << r.message;
    const auto n = *static_cast<const std::uint32_t*>(haGetData(c.in[6].get()));
    EXPECT_EQ(read_file(f.index).size(), sizeof kIndexContent - 1 + 2 * n)
        << "one Flag value of two bytes an entry, whatever feature type is named";
    EXPECT_EQ(r.polls.handle, n) << "one poll an entry";
}

INSTANTIATE_TEST_SUITE_P(Traitmark, OneInputVaried, ::testing::ValuesIn(accepted_variants()),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(IndexFile, MissingIndexFileIsNotCreated) {
    Files f;
    Call c = valid_call(f);
    const std::string missing = f.dir.file("new.idx");
    c.in[4] = text(missing);
    const auto r = call("traitmark", 0, c.in);
    EXPECT_HX_ERROR(r, "helixo:traitmark:CannotOpenIdxFile", "Could not open output index file.");
    EXPECT_FALSE(file_exists(missing));
}

TEST(IndexFile, InputSixIsNotLookedAt) {
    Files f;
    Call c = valid_call(f);
    c.in[5] = cell_of({"anything", "at", "all"});
    const auto r = call("traitmark", 0, c.in);
    ASSERT_TRUE(r.ok) << r.identifier << ": " << r.message;
    EXPECT_EQ(read_file(f.index), std::string(kIndexContent) + std::string("c\0", 2));
}

} // namespace
