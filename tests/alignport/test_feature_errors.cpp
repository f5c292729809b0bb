#include "bamkit.h"

#include <functional>

using namespace testkit;

namespace {

// chrE: eight alignments; starts (0-based) 10 .. 80; two references in the header.
std::string errors_sam() {
    std::string sam = bamkit::sam_header({{"chrE", 1000}, {"chrF", 1000}});
    for (int k = 1; k <= 8; ++k)
        sam += "e" + std::to_string(k) + "\t0\tchrE\t" + std::to_string(10 * k + 1) +
               "\t30\t4M\t*\t0\t0\tACGT\tIIII\n";
    return sam;
}

const std::vector<std::int32_t> kStarts = {10, 20, 30, 40, 50, 60, 70, 80};

hxhost::ArrayPtr complex_u32() {
    auto a = hxhost::make_array(haUINT32_CLASS, {1, 1}, true);
    *static_cast<std::uint32_t*>(haGetData(a.get())) = 1;
    return a;
}

// The service inputs of one call, built afresh (arrays are owned by the list).
using ServiceInputs = std::function<Inputs()>;

struct ErrorCase {
    const char* label;
    int nout;
    ServiceInputs serviceInputs;
    const char* identifier;
    const char* message;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.label; }

class FeatureErrors : public ::testing::TestWithParam<ErrorCase> {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        bam_ = bamkit::make_bam(*dir_, "errors", errors_sam());
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static TempDir* dir_;
    static std::string bam_;
};
TempDir* FeatureErrors::dir_ = nullptr;
std::string FeatureErrors::bam_;

class SingleFeatureErrors : public FeatureErrors {};
class MultiFeatureErrors : public FeatureErrors {};

hxhost::CallResult run(const char* service, const std::string& bam, const ErrorCase& c) {
    Inputs in = args(service, bam, bam + ".bai");
    for (auto& a : c.serviceInputs())
        in.push_back(std::move(a));
    return call("alignport", c.nout, in);
}

// Each row also breaks every later test of the table, so it shows which test comes first;
// no row fetches anything.
TEST_P(SingleFeatureErrors, RaiseInTheOrderOfTheTests) {
    auto r = run("getfeatureinrefbyindex", bam_, GetParam());
    EXPECT_HX_ERROR(r, GetParam().identifier, GetParam().message);
    EXPECT_EQ(r.polls.is_pending + r.polls.handle, 0);
}

TEST_P(MultiFeatureErrors, RaiseInTheOrderOfTheTests) {
    auto r = run("getfeaturesinrefbyindex", bam_, GetParam());
    EXPECT_HX_ERROR(r, GetParam().identifier, GetParam().message);
    EXPECT_EQ(r.polls.is_pending + r.polls.handle, 0);
}

const std::string k255(255, 'F');
const std::string k256(256, 'F');

#define SINGLE_ID(name) "helixo:alignport:getfeatureinrefbyindex:" name
#define MULTI_ID(name) "helixo:alignport:getfeaturesinrefbyindex:" name

INSTANTIATE_TEST_SUITE_P(
    Table, SingleFeatureErrors,
    ::testing::Values(
        ErrorCase{"ThreeInputs", 2, [] { return args(5, -1, u32({})); },
                  SINGLE_ID("InvalidNumInputArg"),
                  "getfeatureinrefbyindex: Invalid number of input arguments required."},
        ErrorCase{"FiveInputs", 2, [] { return args("Flag", 0, u32({1}), i32(kStarts), 0); },
                  SINGLE_ID("InvalidNumInputArg"),
                  "getfeatureinrefbyindex: Invalid number of input arguments required."},
        ErrorCase{"TwoOutputs", 2, [] { return args(5, -1, u32({}), dbl({1})); },
                  SINGLE_ID("InvalidNumOutputArg"), "getfeatureinrefbyindex: Too many output arguments."},
        ErrorCase{"NumericFeature", 1, [] { return args(5, -1, u32({}), dbl({1})); },
                  SINGLE_ID("InvalidFeatureType"), "getfeatureinrefbyindex:Invalid feature type."},
        ErrorCase{"FeatureOfBufferSize", 1, [] { return args(k256, -1, u32({}), dbl({1})); },
                  SINGLE_ID("InvalidFeatureType"), "getfeatureinrefbyindex:Invalid feature type."},
        ErrorCase{"FeatureOneBelowBufferSize", 1, [] { return args(k255, -1, u32({}), dbl({1})); },
                  SINGLE_ID("UnknownFeatureType"), "getfeatureinrefbyindex:Unknown feature type."},
        ErrorCase{"FeatureInOtherCase", 1, [] { return args("flag", -1, u32({}), dbl({1})); },
                  SINGLE_ID("UnknownFeatureType"), "getfeatureinrefbyindex:Unknown feature type."},
        ErrorCase{"NegativeReference", 1, [] { return args("Flag", -1, u32({}), dbl({1})); },
                  SINGLE_ID("InvalidReference"), "getfeatureinrefbyindex: Invalid reference number."},
        ErrorCase{"ReferencePastTheLast", 0, [] { return args("Flag", 2, u32({}), dbl({1})); },
                  SINGLE_ID("InvalidReference"), "getfeatureinrefbyindex: Invalid reference number."},
        ErrorCase{"EmptyIndex", 1, [] { return args("Flag", 1.5, u32({}), dbl({1})); },
                  SINGLE_ID("InvalidIndexing"), "getfeatureinrefbyindex: Index should not be empty."},
        ErrorCase{"DoubleIndex", 1, [] { return args("Flag", 0, dbl({1}), dbl({1})); },
                  SINGLE_ID("InvalidIndexing"), "getfeatureinrefbyindex: Index must be a uint32 vector."},
        ErrorCase{"Int32Index", 1, [] { return args("Flag", 0, i32({1}), dbl({1})); },
                  SINGLE_ID("InvalidIndexing"), "getfeatureinrefbyindex: Index must be a uint32 vector."},
        ErrorCase{"ComplexIndex", 1, [] { return args("Flag", 0, complex_u32(), dbl({1})); },
                  SINGLE_ID("InvalidIndexing"), "getfeatureinrefbyindex: Index must be a uint32 vector."},
        ErrorCase{"DoubleStarts", 1, [] { return args("Flag", 0, u32({0}), dbl({10, 20})); },
                  SINGLE_ID("InvalidIndexing"),
                  "getfeatureinrefbyindex: Starts must be an int32 or uint32 vector."},
        ErrorCase{"Uint64Starts", 1, [] { return args("Flag", 0, u32({0}), u64({10, 20})); },
                  SINGLE_ID("InvalidIndexing"),
                  "getfeatureinrefbyindex: Starts must be an int32 or uint32 vector."},
        ErrorCase{"IndexZero", 1, [] { return args("Flag", 0, u32({0}), i32(kStarts)); },
                  SINGLE_ID("InvalidIndexing"),
                  "getfeatureinrefbyindex: Index out of range of the starts vector."},
        ErrorCase{"IndexPastTheStarts", 1, [] { return args("Flag", 0, u32({2, 9}), i32(kStarts)); },
                  SINGLE_ID("InvalidIndexing"),
                  "getfeatureinrefbyindex: Index out of range of the starts vector."},
        ErrorCase{"ZeroInsideTheIndex", 1, [] { return args("Flag", 0, u32({2, 0, 5}), i32(kStarts)); },
                  SINGLE_ID("InvalidIndexing"),
                  "getfeatureinrefbyindex: Index out of range of the starts vector."},
        ErrorCase{"OutOfRangeWithoutOutput", 0, [] { return args("Flag", 0, u32({9}), i32(kStarts)); },
                  SINGLE_ID("InvalidIndexing"),
                  "getfeatureinrefbyindex: Index out of range of the starts vector."}),
    [](const auto& row) { return std::string(row.param.label); });

hxhost::ArrayPtr cell_with_number() {
    std::vector<hxhost::ArrayPtr> e;
    e.push_back(text("Nope"));
    e.push_back(num(5));
    return hxhost::make_cell(std::move(e));
}

hxhost::ArrayPtr cell_with_hole() { return hxhost::make_cell_shaped({1, 2}); }

INSTANTIATE_TEST_SUITE_P(
    Table, MultiFeatureErrors,
    ::testing::Values(
        ErrorCase{"ThreeInputs", 3, [] { return args(5, -1, u32({})); },
                  MULTI_ID("InvalidNumInputArg"),
                  "getfeaturesinrefbyindex: Invalid number of input arguments required."},
        ErrorCase{"TextFeatures", 3, [] { return args("Flag", -1, u32({}), dbl({1})); },
                  MULTI_ID("InvalidFeatureType"),
                  "getfeaturesinrefbyindex:Features must be given in a cell string."},
        // Every element is tested before any is read: "Nope" is never looked up.
        ErrorCase{"NumberInTheCell", 3, [] { return args(cell_with_number(), -1, u32({}), dbl({1})); },
                  MULTI_ID("InvalidFeatureType"),
                  "getfeaturesinrefbyindex:Features must be given in a cell string."},
        ErrorCase{"UnsetCells", 3, [] { return args(cell_with_hole(), -1, u32({}), dbl({1})); },
                  MULTI_ID("InvalidFeatureType"),
                  "getfeaturesinrefbyindex:Features must be given in a cell string."},
        ErrorCase{"NameOfBufferSize", 3,
                  [] { return args(cell_of({"Flag", k256, "Nope"}), -1, u32({}), dbl({1})); },
                  MULTI_ID("InvalidFeatureType"), "getfeaturesinrefbyindex:Invalid feature type."},
        ErrorCase{"UnknownBeforeDuplicated", 4,
                  [] { return args(cell_of({"Flag", "Nope", "Flag"}), -1, u32({}), dbl({1})); },
                  MULTI_ID("UnknownFeatureType"), "getfeaturesinrefbyindex:Unknown feature type."},
        ErrorCase{"DuplicatedWithTheRightOutputs", 2,
                  [] { return args(cell_of({"Flag", "Flag"}), 0, u32({1}), i32(kStarts)); },
                  MULTI_ID("DuplicatedFeatureType"), "getfeaturesinrefbyindex:Duplicated feature type."},
        ErrorCase{"DuplicatedBeforeOutputCount", 5,
                  [] { return args(cell_of({"Quality", "Flag", "Quality"}), -1, u32({}), dbl({1})); },
                  MULTI_ID("DuplicatedFeatureType"), "getfeaturesinrefbyindex:Duplicated feature type."},
        ErrorCase{"OutputsFewerThanNames", 1,
                  [] { return args(cell_of({"Flag", "Header"}), -1, u32({}), dbl({1})); },
                  MULTI_ID("InvalidNumOutputArg"),
                  "getfeaturesinrefbyindex: Invalid number of output arguments required, number of "
                  "outpur arguments must be the same as the number of elements in {feat}."},
        ErrorCase{"OutputsMoreThanNames", 2,
                  [] { return args(cell_of({"Flag"}), -1, u32({}), dbl({1})); },
                  MULTI_ID("InvalidNumOutputArg"),
                  "getfeaturesinrefbyindex: Invalid number of output arguments required, number of "
                  "outpur arguments must be the same as the number of elements in {feat}."},
        ErrorCase{"ReferencePastTheLast", 1,
                  [] { return args(cell_of({"Flag"}), 2, u32({}), dbl({1})); },
                  MULTI_ID("InvalidReference"), "getfeaturesinrefbyindex: Invalid reference number."},
        ErrorCase{"EmptyIndexNamesTheSingleService", 1,
                  [] { return args(cell_of({"Flag"}), 0, u32({}), dbl({1})); },
                  MULTI_ID("InvalidIndexing"), "getfeatureinrefbyindex: Index should not be empty."},
        ErrorCase{"DoubleIndex", 1, [] { return args(cell_of({"Flag"}), 0, dbl({1}), dbl({1})); },
                  MULTI_ID("InvalidIndexing"), "getfeaturesinrefbyindex: Index must be a uint32 vector."},
        ErrorCase{"DoubleStarts", 1, [] { return args(cell_of({"Flag"}), 0, u32({0}), dbl({1})); },
                  MULTI_ID("InvalidIndexing"),
                  "getfeaturesinrefbyindex: Starts must be an int32 or uint32 vector."},
        ErrorCase{"IndexPastTheStarts", 1,
                  [] { return args(cell_of({"Flag"}), 0, u32({1, 9}), i32(kStarts)); },
                  MULTI_ID("InvalidIndexing"),
                  "getfeaturesinrefbyindex: Index out of range of the starts vector."},
        ErrorCase{"IndexZeroWithoutOutputs", 0,
                  [] { return args(cell_of({}), 0, u32({0}), i32(kStarts)); },
                  MULTI_ID("InvalidIndexing"),
                  "getfeaturesinrefbyindex: Index out of range of the starts vector."}),
    [](const auto& row) { return std::string(row.param.label); });

// The boundary rows pass: the same inputs one step inside the limits succeed.
TEST_F(FeatureErrors, InputsJustInsideTheLimitsAreAccepted) {
    auto a = call("alignport", 1,
                  args("getfeatureinrefbyindex", bam_, bam_ + ".bai", "Flag", 1.9, u32({1}),
                       i32({10})));
    EXPECT_TRUE(a.ok) << a.identifier; // reference 1 (chrF), window without alignments
    auto b = call("alignport", 1,
                  args("getfeatureinrefbyindex", bam_, bam_ + ".bai", "Position", 0, u32({8}),
                       i32(kStarts)));
    ASSERT_TRUE(b.ok) << b.identifier;
    EXPECT_EQ(hxhost::values_of<std::uint32_t>(b.outputs[0].get()), (std::vector<std::uint32_t>{81}));
}

} // namespace
