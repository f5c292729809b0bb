// Text rules of the host: haGetString's buffer-size rule, non-char inputs, UTF-8 both ways.
#include "hxutil.h"
#include "testkit.h"

#include <cstring>
#include <tuple>

namespace {

using hxhost::ArrayPtr;

// A text of exactly `bytes` UTF-8 bytes, made of two-byte characters when wide is set.
std::string text_of_bytes(std::size_t bytes, bool wide) {
    if (!wide)
        return std::string(bytes, 'a');
    std::string text(bytes % 2, 'a');
    while (text.size() < bytes)
        text += "\xC3\xA9"; // é
    return text;
}

class TextBufferBoundary : public ::testing::TestWithParam<std::tuple<std::size_t, int, bool>> {};

TEST_P(TextBufferBoundary, FitsOnlyWhenTheTerminatingZeroFits) {
    const auto [size, delta, wide] = GetParam();
    const std::string text =
        text_of_bytes(static_cast<std::size_t>(static_cast<long>(size) + delta), wide);
    ArrayPtr a = hxhost::make_text(text);
    std::vector<char> buf(size, 'z');
    const bool fits = delta < 0;
    EXPECT_EQ(haGetString(a.get(), buf.data(), size) == 0, fits);
    EXPECT_EQ(std::string(buf.data()), fits ? text : std::string());
    std::fill(buf.begin(), buf.end(), 'z');
    EXPECT_EQ(hxb::read_text(a.get(), buf.data(), size), fits);
}

INSTANTIATE_TEST_SUITE_P(BufferSizesInUse, TextBufferBoundary,
                         ::testing::Combine(::testing::Values(64, 128, 256, 512, 32768),
                                            ::testing::Values(-1, 0, 1), ::testing::Bool()));

TEST(Text, EmptyCharArrayReadsAsEmptyText) {
    ArrayPtr a = hxhost::make_char({}, {0, 0});
    char buf[4] = "xyz";
    EXPECT_EQ(haGetString(a.get(), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
}

TEST(Text, NonCharInputsAreRefusedAndLeaveAnEmptyBuffer) {
    std::vector<ArrayPtr> inputs;
    inputs.push_back(hxhost::make_double(65));
    inputs.push_back(hxhost::make_logical(true));
    inputs.push_back(hxhost::make_numeric<std::uint16_t>(haUINT16_CLASS, {65, 66})); // char-sized
    inputs.push_back(hxhost::make_numeric<std::uint8_t>(haUINT8_CLASS, {65}));
    inputs.push_back(hxhost::make_array(haDOUBLE_CLASS, {0, 0}));
    inputs.push_back(testkit::cell_of({"text in a cell"}));
    for (const ArrayPtr& a : inputs) {
        char buf[64] = "previous";
        EXPECT_NE(haGetString(a.get(), buf, sizeof buf), 0)
            << hxhost::class_name(haGetClassID(a.get()));
        EXPECT_STREQ(buf, "");
        EXPECT_FALSE(hxb::read_text(a.get(), buf, sizeof buf));
    }
}

struct Decoding {
    const char* name;
    std::string utf8;
    std::vector<haChar> codes;
};

void PrintTo(const Decoding& d, std::ostream* os) {
    *os << d.name;
}

class Utf8Decoding : public ::testing::TestWithParam<Decoding> {};

TEST_P(Utf8Decoding, CreateStringGivesTheseCodes) {
    ArrayPtr a(haCreateString(GetParam().utf8.c_str()));
    EXPECT_EQ(hxhost::dims_of(a.get()), (std::vector<haSize>{1, GetParam().codes.size()}));
    EXPECT_EQ(hxhost::values_of<haChar>(a.get()), GetParam().codes);
}

INSTANTIATE_TEST_SUITE_P(
    HostRules, Utf8Decoding,
    ::testing::Values(Decoding{"Ascii", "A~", {0x41, 0x7E}},
                      Decoding{"TwoBytes", "\xC3\xA9", {0xE9}},
                      Decoding{"ThreeBytes",
                               "a\xE2\x82\xAC"
                               "b",
                               {0x61, 0x20AC, 0x62}},
                      Decoding{
                          "FourBytesBecomeASurrogatePair", "\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},
                      Decoding{"HighestCharacter", "\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}},
                      Decoding{"StrayByteKeepsItsCode", "\xFF", {0xFF}},
                      Decoding{"LoneContinuationByte", "x\x80", {0x78, 0x80}},
                      Decoding{"TruncatedAtTheEnd", "\xE2\x82", {0xE2, 0x82}},
                      Decoding{"BrokenContinuation", "\xE2\x28\xA1", {0xE2, 0x28, 0xA1}},
                      Decoding{"Overlong", "\xC0\xAF", {0xC0, 0xAF}},
                      Decoding{"EncodedSurrogate", "\xED\xA0\x80", {0xED, 0xA0, 0x80}},
                      Decoding{"BeyondUnicode", "\xF4\x90\x80\x80", {0xF4, 0x90, 0x80, 0x80}},
                      Decoding{"Empty", "", {}}),
    [](const auto& param) { return std::string(param.param.name); });

struct Encoding {
    const char* name;
    std::vector<haChar> codes;
    std::string utf8;
};

void PrintTo(const Encoding& e, std::ostream* os) {
    *os << e.name;
}

class Utf8Encoding : public ::testing::TestWithParam<Encoding> {};

TEST_P(Utf8Encoding, GetStringGivesTheseBytes) {
    const Encoding& e = GetParam();
    ArrayPtr a = hxhost::make_char(e.codes, {1, e.codes.size()});
    char buf[32];
    ASSERT_EQ(haGetString(a.get(), buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf), e.utf8);
    EXPECT_EQ(hxhost::codes_to_utf8(e.codes.data(), e.codes.size()), e.utf8);
}

INSTANTIATE_TEST_SUITE_P(
    HostRules, Utf8Encoding,
    ::testing::Values(Encoding{"Ascii", {0x41, 0x7F}, "A\x7F"},
                      Encoding{"TwoByteBounds", {0x80, 0x7FF}, "\xC2\x80\xDF\xBF"},
                      Encoding{"ThreeByteBounds", {0x800, 0xFFFF}, "\xE0\xA0\x80\xEF\xBF\xBF"},
                      Encoding{"SurrogatePairIsOneCharacter", {0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
                      Encoding{"LoneHighSurrogate",
                               {0xD800, 0x41},
                               "\xED\xA0\x80"
                               "A"},
                      Encoding{
                          "LowBeforeHighIsNoPair", {0xDC00, 0xD800}, "\xED\xB0\x80\xED\xA0\x80"},
                      Encoding{"CodeOfAStrayByte", {0xFF}, "\xC3\xBF"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Text, ValidUtf8SurvivesARoundTrip) {
    const std::string text = "r\xC3\xA9"
                             "f \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF end";
    ArrayPtr a(haCreateString(text.c_str()));
    std::vector<char> buf(text.size() + 1);
    ASSERT_EQ(haGetString(a.get(), buf.data(), buf.size()), 0);
    EXPECT_EQ(std::string(buf.data()), text);
}

} // namespace
