// flatmark exports its entry point and nothing else.
#include "testkit.h"

#include <cstdio>
#include <set>
#include <string>

namespace {

std::set<std::string> exported_symbols(const std::string& library) {
#if defined(__APPLE__)
    const std::string command = "nm -gU '" + library + "' 2>/dev/null";
#else
    const std::string command = "nm -D --defined-only '" + library + "' 2>/dev/null";
#endif
    std::set<std::string> names;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char type = 0;
        char name[900];
        if (std::sscanf(line, "%*s %c %899s", &type, name) == 2 && type != 'A' && type != 'U')
            names.insert(std::string(name) == "_hxFunction" ? "hxFunction" : name);
    }
    pclose(pipe);
    return names;
}

TEST(FlatmarkExports, OnlyTheEntryPointIsExported) {
    EXPECT_EQ(exported_symbols(testkit::bin_dir() + "/flatmark.so"),
              std::set<std::string>{"hxFunction"});
}

} // namespace
