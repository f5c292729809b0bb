// The helpers every plug-in shares: integer and flag reads, and the exception firewall of an
// entry (exercised through the probe plug-in, across the library boundary as in real use).
#include "hxutil.h"
#include "testkit.h"

#include <cmath>
#include <limits>

namespace {

using hxhost::ArrayPtr;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct Int32Case {
    double value;
    std::int32_t expected;
};

void PrintTo(const Int32Case& c, std::ostream* os) {
    *os << c.value;
}

class ReadInt32 : public ::testing::TestWithParam<Int32Case> {};

TEST_P(ReadInt32, TruncatesTowardZeroAndRejectsWhatDoesNotFit) {
    EXPECT_EQ(hxb::read_int32(hxhost::make_double(GetParam().value).get()), GetParam().expected)
        << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadInt32,
    ::testing::Values(Int32Case{2.9, 2}, Int32Case{-2.9, -2}, Int32Case{0.5, 0}, Int32Case{-0.5, 0},
                      Int32Case{2147483647.0, 2147483647}, Int32Case{2147483647.9, 2147483647},
                      Int32Case{2147483648.0, -1}, Int32Case{-2147483648.0, INT32_MIN},
                      Int32Case{-2147483648.9, INT32_MIN}, Int32Case{-2147483649.0, -1},
                      Int32Case{1e300, -1}, Int32Case{kNaN, -1}, Int32Case{kInf, -1},
                      Int32Case{-kInf, -1}));

TEST(ReadInt32Classes, ReadsOtherClassesThroughTheirValue) {
    EXPECT_EQ(
        hxb::read_int32(hxhost::make_numeric<std::uint32_t>(haUINT32_CLASS, {4294967295u}).get()),
        -1);
    EXPECT_EQ(hxb::read_int32(hxhost::make_numeric<std::int64_t>(haINT64_CLASS, {-5}).get()), -5);
    EXPECT_EQ(hxb::read_int32(hxhost::make_logical(true).get()), 1);
    EXPECT_EQ(hxb::read_int32(hxhost::make_text("A").get()), 65);
    EXPECT_EQ(hxb::read_int32(hxhost::make_array(haDOUBLE_CLASS, {0, 0}).get()), -1);
    EXPECT_EQ(hxb::read_int32(testkit::cell_of({"7"}).get()), -1);
}

struct FlagCase {
    double value;
    bool nonzero;
    std::uint8_t low8;
};

void PrintTo(const FlagCase& c, std::ostream* os) {
    *os << c.value;
}

class ReadFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(ReadFlags, ReadBothWays) {
    ArrayPtr a = hxhost::make_double(GetParam().value);
    EXPECT_EQ(hxb::read_flag_nonzero(a.get()), GetParam().nonzero) << GetParam().value;
    EXPECT_EQ(hxb::read_flag_low8(a.get()), GetParam().low8) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadFlags,
    ::testing::Values(FlagCase{0, false, 0}, FlagCase{-0.0, false, 0}, FlagCase{1, true, 1},
                      FlagCase{0.25, true, 0}, FlagCase{-0.75, true, 0}, FlagCase{2.5, true, 2},
                      FlagCase{255.9, true, 255}, FlagCase{256, true, 0}, FlagCase{257, true, 1},
                      FlagCase{-1, true, 255}, FlagCase{-2.5, true, 254}, FlagCase{-256, true, 0},
                      FlagCase{-257, true, 255}, FlagCase{1e10 + 3, true, 3},
                      FlagCase{kNaN, true, 0}, FlagCase{kInf, true, 0}, FlagCase{-kInf, true, 0}));

TEST(ReadFlagClasses, EmptyAndCellReadAsNaN) {
    EXPECT_TRUE(hxb::read_flag_nonzero(hxhost::make_array(haDOUBLE_CLASS, {0, 0}).get()));
    EXPECT_EQ(hxb::read_flag_low8(hxhost::make_array(haDOUBLE_CLASS, {0, 0}).get()), 0);
    EXPECT_FALSE(hxb::read_flag_nonzero(hxhost::make_logical(false).get()));
    EXPECT_EQ(hxb::read_flag_low8(hxhost::make_numeric<std::uint16_t>(haUINT16_CLASS, {300}).get()),
              44);
}

struct FirewallCase {
    const char* thrown;
    const char* identifier;
    const char* message;
};

void PrintTo(const FirewallCase& c, std::ostream* os) {
    *os << c.thrown;
}

class Firewall : public ::testing::TestWithParam<FirewallCase> {};

TEST_P(Firewall, TurnsForeignExceptionsIntoHostErrors) {
    const FirewallCase& c = GetParam();
    const auto r = testkit::call("hxprobe", 1, testkit::args("throw", c.thrown));
    EXPECT_HX_ERROR(r, c.identifier, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, Firewall,
    ::testing::Values(
        FirewallCase{"bad_alloc", "helixo:probe:OutOfMemory", "Out of memory."},
        FirewallCase{"runtime_error", "helixo:probe:InternalError", "Internal error: probe broke"},
        FirewallCase{"int", "helixo:probe:InternalError", "Internal error: unknown exception."},
        FirewallCase{"host", "helixo:probe:throw:Host", "throw: Host error 7."}));

} // namespace
