// Reference and header queries: names to numbers and back, and getheader's three outputs.
#include "bamkit.h"
#include "error_order.h"

#include <cmath>
#include <filesystem>
#include <limits>

using namespace testkit;

namespace {

std::int32_t int32_out(const hxhost::CallResult& r) {
    EXPECT_TRUE(r.ok) << r.identifier << ": " << r.message;
    if (!r.ok || !r.outputs[0])
        return -999;
    EXPECT_EQ(haGetClassID(r.outputs[0].get()), haINT32_CLASS);
    EXPECT_EQ(hxhost::dims_of(r.outputs[0].get()), (std::vector<haSize>{1, 1}));
    return hxhost::values_of<std::int32_t>(r.outputs[0].get())[0];
}

class References : public ::testing::Test {
protected:
    TempDir dir;
    std::vector<std::pair<std::string, int>> refs = {
        {"chr1", 1000}, {"chr2", 2000}, {"chr3", 3000}, {"my:ref", 40}, {"HLA-A*01:01", 3503}};
    std::string bam = bamkit::make_bam(
        dir, "refs", bamkit::sam_header(refs) + "r1\t0\tchr1\t10\t30\t5M\t*\t0\t0\tACGTA\tIIIII\n");
};

TEST_F(References, GetHeaderReturnsTextNamesAndLengths) {
    auto r = call("alignport", 3, args("getheader", bam));
    ASSERT_TRUE(r.ok) << r.identifier << " " << r.message;
    EXPECT_EQ(hxhost::text_of(r.outputs[0].get()), bamkit::sam_header(refs));
    ASSERT_EQ(hxhost::dims_of(r.outputs[1].get()), (std::vector<haSize>{refs.size(), 1}));
    ASSERT_EQ(haGetClassID(r.outputs[2].get()), haUINT32_CLASS);
    const auto lengths = hxhost::values_of<std::uint32_t>(r.outputs[2].get());
    for (std::size_t k = 0; k < refs.size(); ++k) {
        EXPECT_EQ(hxhost::text_of(haGetCell(r.outputs[1].get(), k)), refs[k].first);
        EXPECT_EQ(lengths[k], static_cast<std::uint32_t>(refs[k].second));
    }
}

TEST_F(References, GetHeaderGivesOnlyTheOutputsAskedFor) {
    for (int n = 0; n <= 3; ++n) {
        auto r = call("alignport", n, args("getheader", bam));
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(r.outputs.size(), static_cast<std::size_t>(n));
        for (const auto& out : r.outputs)
            EXPECT_NE(out, nullptr);
    }
}

TEST_F(References, GetHeaderOfAFileWithoutReferencesGivesEmptyColumns) {
    const std::string empty =
        bamkit::make_header_only_bam(dir, "empty", "@HD\tVN:1.0\tSO:unsorted\n");
    auto r = call("alignport", 3, args("getheader", empty));
    ASSERT_TRUE(r.ok) << r.identifier << " " << r.message;
    EXPECT_EQ(hxhost::text_of(r.outputs[0].get()), "@HD\tVN:1.0\tSO:unsorted\n");
    EXPECT_EQ(hxhost::dims_of(r.outputs[1].get()), (std::vector<haSize>{0, 1}));
    EXPECT_TRUE(haIsCell(r.outputs[1].get()));
    EXPECT_EQ(hxhost::dims_of(r.outputs[2].get()), (std::vector<haSize>{0, 1}));
    EXPECT_EQ(haGetClassID(r.outputs[2].get()), haUINT32_CLASS);
}

TEST_F(References, NumbersAndNamesRoundTrip) {
    EXPECT_EQ(int32_out(call("alignport", 1, args("getnumberofreferences", bam))),
              static_cast<std::int32_t>(refs.size()));
    for (std::size_t k = 0; k < refs.size(); ++k) {
        auto name = call("alignport", 1, args("getreferencestring", bam, static_cast<double>(k)));
        ASSERT_TRUE(name.ok);
        EXPECT_EQ(hxhost::text_of(name.outputs[0].get()), refs[k].first);
        if (refs[k].first.find(':') == std::string::npos) {
            EXPECT_EQ(int32_out(call("alignport", 1,
                                     args("validatereferencestring", bam, refs[k].first))),
                      static_cast<std::int32_t>(k));
        }
    }
}

struct RegionCase {
    const char* text;
    std::int32_t expected;
};

class ValidateReference : public References, public ::testing::WithParamInterface<RegionCase> {};

TEST_P(ValidateReference, ResolvesTheNamePartOfARegion) {
    EXPECT_EQ(
        int32_out(call("alignport", 1, args("validatereferencestring", bam, GetParam().text))),
        GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, ValidateReference,
                         ::testing::Values(RegionCase{"chr1", 0}, RegionCase{"chr3:100-200", 2},
                                           RegionCase{"chr2:1,000-1,500", 1},
                                           RegionCase{"chrX", -1}, RegionCase{"", -1},
                                           RegionCase{"CHR1", -1}));

struct NumberCase {
    double value;
    const char* expected; // null: invalid reference
};

class ReferenceNumbers : public References, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(ReferenceNumbers, TruncateTowardZeroAndStayInRange) {
    auto r = call("alignport", 1, args("getreferencestring", bam, GetParam().value));
    if (GetParam().expected == nullptr) {
        EXPECT_HX_ERROR(r, "helixo:alignport:getreferencestring:InvalidReference",
                        "getreferencestring: Invalid reference number.");
    } else {
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(hxhost::text_of(r.outputs[0].get()), GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReferenceNumbers,
    ::testing::Values(NumberCase{0, "chr1"}, NumberCase{1.9, "chr2"}, NumberCase{-0.5, "chr1"},
                      NumberCase{4, "HLA-A*01:01"}, NumberCase{5, nullptr}, NumberCase{-1, nullptr},
                      NumberCase{std::numeric_limits<double>::quiet_NaN(), nullptr},
                      NumberCase{4294967296.0, nullptr},
                      NumberCase{std::numeric_limits<double>::infinity(), nullptr}));

#define SVC(s) "helixo:alignport:" s

// validatereferencestring's rows, getnumberofreferences', getreferencestring's and getheader's:
// each service's rows come in its check order.
TEST_F(References, ErrorsComeInTheOrderOfTheChecks) {
    const std::string sam_text = bam.substr(0, bam.size() - 4) + ".sam";
    expect_errors_in_order(
        "alignport",
        error_rows(
            error_row("ValidateNoInput", 1, args("validatereferencestring", bam),
                      SVC("validatereferencestring:InvalidNumInputArg"),
                      "validatereferencestring: Invalid number of input arguments required."),
            error_row("ValidateTwoInputsBeforeOutputs", 2,
                      args("validatereferencestring", bam, "a", "b"),
                      SVC("validatereferencestring:InvalidNumInputArg"),
                      "validatereferencestring: Invalid number of input arguments required."),
            error_row("ValidateTwoOutputs", 2, args("validatereferencestring", bam, 7.0),
                      SVC("validatereferencestring:InvalidNumOutputArg"),
                      "validatereferencestring: Too many output arguments."),
            error_row("ValidateNumericName", 1, args("validatereferencestring", bam, 7.0),
                      SVC("InvalidRefName"), "Invalid reference name."),
            error_row("ValidateNameOfBufferSize", 1,
                      args("validatereferencestring", bam, std::string(256, 'c')),
                      SVC("InvalidRefName"), "Invalid reference name."),
            error_row("CountWithInput", 1, args("getnumberofreferences", bam, 1.0),
                      SVC("getnumberofreferences:InvalidNumInputArg"),
                      "getnumberofreferences: Invalid number of input arguments required."),
            error_row("CountTwoOutputs", 2, args("getnumberofreferences", bam),
                      SVC("getnumberofreferences:InvalidNumOutputArg"),
                      "getnumberofreferences: Too many output arguments."),
            error_row("NameNoInput", 1, args("getreferencestring", bam),
                      SVC("getreferencestring:InvalidNumInputArg"),
                      "getreferencestring: Invalid number of input arguments required."),
            error_row("NameTwoOutputs", 2, args("getreferencestring", bam, 99.0),
                      SVC("getreferencestring:InvalidNumOutputArg"),
                      "getreferencestring: Too many output arguments."),
            error_row("NameNumberCheckedWithoutOutputs", 0, args("getreferencestring", bam, 99.0),
                      SVC("getreferencestring:InvalidReference"),
                      "getreferencestring: Invalid reference number."),
            error_row("HeaderNoInput", 1, args("getheader"), SVC("InvalidNumInputArg"),
                      "Invalid number of input arguments required."),
            error_row("HeaderTwoInputs", 1, args("getheader", bam, bam),
                      SVC("getheader:InvalidNumInputArg"),
                      "getheader: Invalid number of input arguments required."),
            error_row("HeaderFourOutputs", 4, args("getheader", bam),
                      SVC("getheader:InvalidNumOutputArg"),
                      "getheader: Too many output arguments."),
            error_row("HeaderNameOfBufferSize", 1, args("getheader", std::string(512, 'n')),
                      SVC("InvalidFileName"), "Invalid BAM file name."),
            error_row("HeaderMissingFile", 0, args("getheader", bam + ".missing"),
                      SVC("CannotOpenInFile"), "Could not open BAM file."),
            error_row("HeaderOfSamText", 1, args("getheader", sam_text), SVC("CannotOpenInFile"),
                      "Could not open BAM file.")));
}

TEST_F(References, ZeroOutputsStillRunTheChecks) {
    for (const char* service : {"validatereferencestring", "getreferencestring"}) {
        auto r = call("alignport", 0, args(service, bam, 1.0));
        if (std::string(service) == "validatereferencestring") {
            EXPECT_HX_ERROR(r, SVC("InvalidRefName"), "Invalid reference name.");
        } else {
            EXPECT_TRUE(r.ok);
            EXPECT_TRUE(r.outputs.empty());
        }
    }
    auto header = call("alignport", 0, args("getheader", bam));
    EXPECT_TRUE(header.ok);
}

} // namespace
