// Console text: hxPrintf formats as printf does and goes to standard output or, while the
// embedding API captures, into a buffer that take_console empties.
#include "testkit.h"

namespace {

class Console : public ::testing::Test {
protected:
    void TearDown() override { hxhost::capture_console(false); }
};

TEST_F(Console, CapturedTextIsReturnedOnceAndExactly) {
    hxhost::capture_console(true);
    const auto r = testkit::call("hxprobe", 0, testkit::args("print", "h\xC3\xA9llo\n"));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(hxhost::take_console(), "h\xC3\xA9llo\n|42|%d|");
    EXPECT_EQ(hxhost::take_console(), "");
}

TEST_F(Console, LongTextIsCapturedWhole) {
    const std::string text(3000, 'x');
    hxhost::capture_console(true);
    ASSERT_TRUE(testkit::call("hxprobe", 0, testkit::args("print", text + "!")).ok);
    EXPECT_EQ(hxhost::take_console(), text + "!|42|%d|");
}

TEST_F(Console, WithoutCaptureTextGoesToStandardOutput) {
    ::testing::internal::CaptureStdout();
    const auto r = testkit::call("hxprobe", 0, testkit::args("print", "to stdout"));
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "to stdout|42|%d|");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(hxhost::take_console(), "");
}

} // namespace
