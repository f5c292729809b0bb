// The built plug-in as a user meets it: one exported entry, and a call through hxrun.
#include "traitmark_kit.h"

#include <cstdio>
#include <sstream>

using namespace testkit;

namespace {

TEST(Plugin, ExportsOnlyItsEntryPoint) {
    EXPECT_EQ(exported_symbols(bin_dir() + "/traitmark.so"), std::set<std::string>{"hxFunction"});
}

TEST(Plugin, AppendsTwoBytesAnEntryThroughHxrun) {
    const std::string hxrun = bin_dir() + "/hxrun";
    if (!file_exists(hxrun))
        GTEST_SKIP() << "hxrun is not built";
    TempDir dir;
    const std::string sam = tmkit::paired_sam(5, 50);
    const std::string input = dir.write_text("x.sam", sam);
    const std::string index = dir.write_text("x.idx", "IDX");
    std::string raw;
    std::vector<std::uint32_t> flags;
    for (std::uint64_t at : tmkit::alignment_starts(sam)) {
        const auto offset = static_cast<std::uint32_t>(at);
        raw.append(reinterpret_cast<const char*>(&offset), 4);
        flags.push_back(static_cast<std::uint32_t>(std::stoul(sam.substr(sam.find('\t', at) + 1))));
    }
    const std::string offsets = dir.write_text("offsets.bin", raw);
    int status = 0;
    run_command(hxrun + " traitmark sam Flag uint16 " + input + " " + index + " str: uint32:" +
                    std::to_string(flags.size()) + " double:0 uint32@" + offsets + " 2>&1",
                &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(tmkit::decode(read_file(index).substr(3), 2), flags);
}

} // namespace
