// haGetScalar: the first element as double for every class, NaN for empty and cell arrays.
#include "testkit.h"

#include <cmath>
#include <functional>
#include <limits>

namespace {

using hxhost::ArrayPtr;

struct ScalarCase {
    const char* name;
    std::function<ArrayPtr()> make;
    double expected; // NaN: expect NaN
};

template <class T> std::function<ArrayPtr()> values(haClassID cls, std::vector<T> v) {
    return [cls, v] { return hxhost::make_numeric<T>(cls, v); };
}

void PrintTo(const ScalarCase& c, std::ostream* os) {
    *os << c.name;
}

class ScalarRead : public ::testing::TestWithParam<ScalarCase> {};

TEST_P(ScalarRead, GivesTheFirstElementAsDouble) {
    ArrayPtr a = GetParam().make();
    const double got = haGetScalar(a.get());
    if (std::isnan(GetParam().expected))
        EXPECT_TRUE(std::isnan(got)) << got;
    else
        EXPECT_EQ(got, GetParam().expected);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    EveryClass, ScalarRead,
    ::testing::Values(
        ScalarCase{"Double", values<double>(haDOUBLE_CLASS, {-2.5, 9}), -2.5},
        ScalarCase{"Single", values<float>(haSINGLE_CLASS, {1.25f}), 1.25},
        ScalarCase{"LogicalTrue", values<std::uint8_t>(haLOGICAL_CLASS, {1}), 1},
        ScalarCase{"LogicalFalse", values<std::uint8_t>(haLOGICAL_CLASS, {0, 1}), 0},
        ScalarCase{"CharCode", [] { return hxhost::make_text("A"); }, 65},
        ScalarCase{"WideCharCode", [] { return hxhost::make_text("\xE2\x82\xAC"); }, 0x20AC},
        ScalarCase{"Int8", values<std::int8_t>(haINT8_CLASS, {-128}), -128},
        ScalarCase{"Uint8", values<std::uint8_t>(haUINT8_CLASS, {255}), 255},
        ScalarCase{"Int16", values<std::int16_t>(haINT16_CLASS, {-32768}), -32768},
        ScalarCase{"Uint16", values<std::uint16_t>(haUINT16_CLASS, {65535}), 65535},
        ScalarCase{"Int32", values<std::int32_t>(haINT32_CLASS, {INT32_MIN}), INT32_MIN},
        ScalarCase{"Uint32", values<std::uint32_t>(haUINT32_CLASS, {UINT32_MAX}), 4294967295.0},
        ScalarCase{"Int64", values<std::int64_t>(haINT64_CLASS, {-(1LL << 53)}), -9007199254740992.0},
        ScalarCase{"Uint64", values<std::uint64_t>(haUINT64_CLASS, {UINT64_MAX}), 18446744073709551616.0},
        ScalarCase{"FirstOfAColumn", values<std::uint32_t>(haUINT32_CLASS, {7, 8, 9}), 7},
        ScalarCase{"RealPartOfComplex",
                   [] {
                       ArrayPtr a = hxhost::make_array(haDOUBLE_CLASS, {1, 1}, true);
                       *static_cast<double*>(haGetData(a.get())) = 3;
                       *static_cast<double*>(const_cast<void*>(hxhost::imag_data(a.get()))) = 4;
                       return a;
                   },
                   3},
        ScalarCase{"EmptyDouble", [] { return hxhost::make_array(haDOUBLE_CLASS, {0, 0}); }, kNaN},
        ScalarCase{"EmptyColumn", [] { return hxhost::make_array(haUINT32_CLASS, {0, 1}); }, kNaN},
        ScalarCase{"EmptyText", [] { return hxhost::make_text(""); }, kNaN},
        ScalarCase{"Cell", [] { return testkit::cell_of({"1"}); }, kNaN},
        ScalarCase{"CellOfANumber",
                   [] {
                       std::vector<ArrayPtr> e;
                       e.push_back(hxhost::make_double(5));
                       return hxhost::make_cell(std::move(e));
                   },
                   kNaN}),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
