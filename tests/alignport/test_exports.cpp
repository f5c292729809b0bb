// A plug-in exports its entry point and nothing else.
#include "testkit.h"

#include <cstdio>
#include <set>
#include <string>

namespace {

std::set<std::string> exported_functions(const std::string& library) {
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
        if (std::sscanf(line, "%*s %c %899s", &type, name) == 2 && (type == 'T' || type == 'W' ||
                                                                   type == 'D' || type == 'B' ||
                                                                   type == 'V' || type == 'R'))
            names.insert(name[0] == '_' && std::string(name) == "_hxFunction" ? "hxFunction" : name);
    }
    pclose(pipe);
    return names;
}

TEST(Exports, AlignportExportsOnlyItsEntryPoint) {
    const auto names = exported_functions(testkit::bin_dir() + "/alignport.so");
    EXPECT_EQ(names, std::set<std::string>{"hxFunction"});
}

} // namespace
