// flatmark exports its entry point and nothing else.
#include "testkit.h"

namespace {

TEST(FlatmarkExports, OnlyTheEntryPointIsExported) {
    EXPECT_EQ(testkit::exported_symbols(testkit::bin_dir() + "/flatmark.so"),
              std::set<std::string>{"hxFunction"});
}

} // namespace
