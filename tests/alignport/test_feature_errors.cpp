#include "bamkit.h"
#include "error_order.h"

#include <utility>

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

class FeatureErrors : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        bam_ = bamkit::make_bam(*dir_, "errors", errors_sam());
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    // The service's call on the table's BAM file and its index, then the service inputs.
    template <class... A> static Inputs service_call(const char* service, A&&... a) {
        return args(service, bam_, bam_ + ".bai", std::forward<A>(a)...);
    }
    static TempDir* dir_;
    static std::string bam_;
};
TempDir* FeatureErrors::dir_ = nullptr;
std::string FeatureErrors::bam_;

// No row fetches anything: the checks come before the first poll.
const RowChecks kNothingFetched = {
    {}, [](const hxhost::CallResult& r) { EXPECT_EQ(r.polls.is_pending + r.polls.handle, 0); }};

const std::string k255(255, 'F');
const std::string k256(256, 'F');

#define SINGLE_ID(name) "helixo:alignport:getfeatureinrefbyindex:" name
#define MULTI_ID(name) "helixo:alignport:getfeaturesinrefbyindex:" name

// Each row also breaks every later check of the table, so it shows which check comes first.
TEST_F(FeatureErrors, SingleFeatureErrorsComeInTheOrderOfTheChecks) {
    const auto in = [](auto&&... a) {
        return service_call("getfeatureinrefbyindex", std::forward<decltype(a)>(a)...);
    };
    expect_errors_in_order(
        "alignport",
        error_rows(error_row("ThreeInputs", 2, in(5, -1, u32({})), SINGLE_ID("InvalidNumInputArg"),
                             "getfeatureinrefbyindex: Invalid number of input arguments required."),
                   error_row("FiveInputs", 2, in("Flag", 0, u32({1}), i32(kStarts), 0),
                             SINGLE_ID("InvalidNumInputArg"),
                             "getfeatureinrefbyindex: Invalid number of input arguments required."),
                   error_row("TwoOutputs", 2, in(5, -1, u32({}), dbl({1})),
                             SINGLE_ID("InvalidNumOutputArg"),
                             "getfeatureinrefbyindex: Too many output arguments."),
                   error_row("NumericFeature", 1, in(5, -1, u32({}), dbl({1})),
                             SINGLE_ID("InvalidFeatureType"),
                             "getfeatureinrefbyindex:Invalid feature type."),
                   error_row("FeatureOfBufferSize", 1, in(k256, -1, u32({}), dbl({1})),
                             SINGLE_ID("InvalidFeatureType"),
                             "getfeatureinrefbyindex:Invalid feature type."),
                   error_row("FeatureOneBelowBufferSize", 1, in(k255, -1, u32({}), dbl({1})),
                             SINGLE_ID("UnknownFeatureType"),
                             "getfeatureinrefbyindex:Unknown feature type."),
                   error_row("FeatureInOtherCase", 1, in("flag", -1, u32({}), dbl({1})),
                             SINGLE_ID("UnknownFeatureType"),
                             "getfeatureinrefbyindex:Unknown feature type."),
                   error_row("NegativeReference", 1, in("Flag", -1, u32({}), dbl({1})),
                             SINGLE_ID("InvalidReference"),
                             "getfeatureinrefbyindex: Invalid reference number."),
                   error_row("ReferencePastTheLast", 0, in("Flag", 2, u32({}), dbl({1})),
                             SINGLE_ID("InvalidReference"),
                             "getfeatureinrefbyindex: Invalid reference number."),
                   error_row("EmptyIndex", 1, in("Flag", 1.5, u32({}), dbl({1})),
                             SINGLE_ID("InvalidIndexing"),
                             "getfeatureinrefbyindex: Index should not be empty."),
                   error_row("DoubleIndex", 1, in("Flag", 0, dbl({1}), dbl({1})),
                             SINGLE_ID("InvalidIndexing"),
                             "getfeatureinrefbyindex: Index must be a uint32 vector."),
                   error_row("Int32Index", 1, in("Flag", 0, i32({1}), dbl({1})),
                             SINGLE_ID("InvalidIndexing"),
                             "getfeatureinrefbyindex: Index must be a uint32 vector."),
                   error_row("ComplexIndex", 1, in("Flag", 0, complex_u32(), dbl({1})),
                             SINGLE_ID("InvalidIndexing"),
                             "getfeatureinrefbyindex: Index must be a uint32 vector."),
                   error_row("DoubleStarts", 1, in("Flag", 0, u32({0}), dbl({10, 20})),
                             SINGLE_ID("InvalidIndexing"),
                             "getfeatureinrefbyindex: Starts must be an int32 or uint32 vector."),
                   error_row("Uint64Starts", 1, in("Flag", 0, u32({0}), u64({10, 20})),
                             SINGLE_ID("InvalidIndexing"),
                             "getfeatureinrefbyindex: Starts must be an int32 or uint32 vector."),
                   error_row("IndexZero", 1, in("Flag", 0, u32({0}), i32(kStarts)),
                             SINGLE_ID("InvalidIndexing"),
                             "getfeatureinrefbyindex: Index out of range of the starts vector."),
                   error_row("IndexPastTheStarts", 1, in("Flag", 0, u32({2, 9}), i32(kStarts)),
                             SINGLE_ID("InvalidIndexing"),
                             "getfeatureinrefbyindex: Index out of range of the starts vector."),
                   error_row("ZeroInsideTheIndex", 1, in("Flag", 0, u32({2, 0, 5}), i32(kStarts)),
                             SINGLE_ID("InvalidIndexing"),
                             "getfeatureinrefbyindex: Index out of range of the starts vector."),
                   error_row("OutOfRangeWithoutOutput", 0, in("Flag", 0, u32({9}), i32(kStarts)),
                             SINGLE_ID("InvalidIndexing"),
                             "getfeatureinrefbyindex: Index out of range of the starts vector.")),
        kNothingFetched);
}

hxhost::ArrayPtr cell_with_number() {
    std::vector<hxhost::ArrayPtr> e;
    e.push_back(text("Nope"));
    e.push_back(num(5));
    return hxhost::make_cell(std::move(e));
}

hxhost::ArrayPtr cell_with_hole() {
    return hxhost::make_cell_shaped({1, 2});
}

TEST_F(FeatureErrors, MultiFeatureErrorsComeInTheOrderOfTheChecks) {
    const auto in = [](auto&&... a) {
        return service_call("getfeaturesinrefbyindex", std::forward<decltype(a)>(a)...);
    };
    const char* const kOutputsNotFeatures =
        "getfeaturesinrefbyindex: Invalid number of output arguments required, number of "
        "outpur arguments must be the same as the number of elements in {feat}.";
    expect_errors_in_order(
        "alignport",
        error_rows(
            error_row("ThreeInputs", 3, in(5, -1, u32({})), MULTI_ID("InvalidNumInputArg"),
                      "getfeaturesinrefbyindex: Invalid number of input arguments required."),
            error_row("TextFeatures", 3, in("Flag", -1, u32({}), dbl({1})),
                      MULTI_ID("InvalidFeatureType"),
                      "getfeaturesinrefbyindex:Features must be given in a cell string."),
            // Every element is tested before any is read: "Nope" is never looked up.
            error_row("NumberInTheCell", 3, in(cell_with_number(), -1, u32({}), dbl({1})),
                      MULTI_ID("InvalidFeatureType"),
                      "getfeaturesinrefbyindex:Features must be given in a cell string."),
            error_row("UnsetCells", 3, in(cell_with_hole(), -1, u32({}), dbl({1})),
                      MULTI_ID("InvalidFeatureType"),
                      "getfeaturesinrefbyindex:Features must be given in a cell string."),
            error_row(
                "NameOfBufferSize", 3, in(cell_of({"Flag", k256, "Nope"}), -1, u32({}), dbl({1})),
                MULTI_ID("InvalidFeatureType"), "getfeaturesinrefbyindex:Invalid feature type."),
            error_row("UnknownBeforeDuplicated", 4,
                      in(cell_of({"Flag", "Nope", "Flag"}), -1, u32({}), dbl({1})),
                      MULTI_ID("UnknownFeatureType"),
                      "getfeaturesinrefbyindex:Unknown feature type."),
            error_row("DuplicatedWithTheRightOutputs", 2,
                      in(cell_of({"Flag", "Flag"}), 0, u32({1}), i32(kStarts)),
                      MULTI_ID("DuplicatedFeatureType"),
                      "getfeaturesinrefbyindex:Duplicated feature type."),
            error_row("DuplicatedBeforeOutputCount", 5,
                      in(cell_of({"Quality", "Flag", "Quality"}), -1, u32({}), dbl({1})),
                      MULTI_ID("DuplicatedFeatureType"),
                      "getfeaturesinrefbyindex:Duplicated feature type."),
            error_row("OutputsFewerThanNames", 1,
                      in(cell_of({"Flag", "Header"}), -1, u32({}), dbl({1})),
                      MULTI_ID("InvalidNumOutputArg"), kOutputsNotFeatures),
            error_row("OutputsMoreThanNames", 2, in(cell_of({"Flag"}), -1, u32({}), dbl({1})),
                      MULTI_ID("InvalidNumOutputArg"), kOutputsNotFeatures),
            error_row("ReferencePastTheLast", 1, in(cell_of({"Flag"}), 2, u32({}), dbl({1})),
                      MULTI_ID("InvalidReference"),
                      "getfeaturesinrefbyindex: Invalid reference number."),
            error_row("EmptyIndexNamesTheSingleService", 1,
                      in(cell_of({"Flag"}), 0, u32({}), dbl({1})), MULTI_ID("InvalidIndexing"),
                      "getfeatureinrefbyindex: Index should not be empty."),
            error_row("DoubleIndex", 1, in(cell_of({"Flag"}), 0, dbl({1}), dbl({1})),
                      MULTI_ID("InvalidIndexing"),
                      "getfeaturesinrefbyindex: Index must be a uint32 vector."),
            error_row("DoubleStarts", 1, in(cell_of({"Flag"}), 0, u32({0}), dbl({1})),
                      MULTI_ID("InvalidIndexing"),
                      "getfeaturesinrefbyindex: Starts must be an int32 or uint32 vector."),
            error_row("IndexPastTheStarts", 1, in(cell_of({"Flag"}), 0, u32({1, 9}), i32(kStarts)),
                      MULTI_ID("InvalidIndexing"),
                      "getfeaturesinrefbyindex: Index out of range of the starts vector."),
            error_row("IndexZeroWithoutOutputs", 0, in(cell_of({}), 0, u32({0}), i32(kStarts)),
                      MULTI_ID("InvalidIndexing"),
                      "getfeaturesinrefbyindex: Index out of range of the starts vector.")),
        kNothingFetched);
}

// The boundary rows pass: the same inputs one step inside the limits succeed.
TEST_F(FeatureErrors, InputsJustInsideTheLimitsAreAccepted) {
    auto a =
        call("alignport", 1,
             args("getfeatureinrefbyindex", bam_, bam_ + ".bai", "Flag", 1.9, u32({1}), i32({10})));
    EXPECT_TRUE(a.ok) << a.identifier; // reference 1 (chrF), window without alignments
    auto b = call(
        "alignport", 1,
        args("getfeatureinrefbyindex", bam_, bam_ + ".bai", "Position", 0, u32({8}), i32(kStarts)));
    ASSERT_TRUE(b.ok) << b.identifier;
    EXPECT_EQ(hxhost::values_of<std::uint32_t>(b.outputs[0].get()),
              (std::vector<std::uint32_t>{81}));
}

} // namespace
