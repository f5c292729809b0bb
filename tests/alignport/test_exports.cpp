// alignport exports its entry point and nothing else.
#include "testkit.h"

namespace {

TEST(Exports, AlignportExportsOnlyItsEntryPoint) {
    EXPECT_EQ(testkit::exported_symbols(testkit::bin_dir() + "/alignport.so"),
              std::set<std::string>{"hxFunction"});
}

} // namespace
