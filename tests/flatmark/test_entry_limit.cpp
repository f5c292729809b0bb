// The entry counter's limit, tested on the scanners directly: the index file holds a 32-bit
// entry count, so a scan refuses the 2^32-th entry (naming the byte where it begins) instead of
// wrapping the count to 0; the line count, which no file holds, goes on past 2^32 - 1. A scan
// that starts its counters near the limit stands in for a file of four billion entries.
#include "scanners.h"

#include "testkit.h"

#include <cstdio>
#include <string>

using namespace flatmark;

namespace {

using Scan = void (*)(ScanCore&, OffsetTable<std::uint64_t>&);

struct LimitCase {
    const char* label;
    Scan scan;
    const char* text;      // two entries
    const char* delimiter; // entry delimiter ("flat")
    std::uint64_t second;  // where the second entry begins
    std::uint64_t lines;   // the lines the scan counts
};

struct Outcome {
    bool raised = false;
    std::string identifier;
    std::string message;
    std::uint32_t entries = 0;
    std::uint64_t lines = 0;
    bool files_closed = false;
};

// Scans the case's text with the counters starting at the given values.
Outcome scan_from(const LimitCase& c, std::uint32_t entries, std::uint64_t lines) {
    testkit::TempDir dir;
    const std::string input = dir.write_text("in.txt", c.text);
    IndexFiles files;
    files.input.reset(std::fopen(input.c_str(), "rb"));
    files.index.reset(std::fopen(dir.file("out.idx").c_str(), "wb"));
    EXPECT_TRUE(files.input != nullptr && files.index != nullptr);
    Settings settings;
    settings.field_delimiter = '\t';
    settings.entry_delimiter = c.delimiter;
    LineReader reader(files.input.get());
    ScanCore core(settings, files, reader);
    core.entries = entries;
    core.lines = lines;
    OffsetTable<std::uint64_t> table(files, false);
    Outcome out;
    try {
        c.scan(core, table);
    } catch (const hx::HostError& e) {
        out.raised = true;
        out.identifier = e.identifier();
        out.message = e.message();
    }
    out.entries = core.entries;
    out.lines = core.lines;
    out.files_closed = files.input == nullptr && files.index == nullptr;
    return out;
}

class EntryLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(EntryLimit, TheLastCountableEntryIsCounted) {
    const LimitCase& c = GetParam();
    const Outcome out = scan_from(c, kMaxEntries - 2, 0);
    EXPECT_FALSE(out.raised) << out.message;
    EXPECT_EQ(out.entries, 4294967295u);
}

TEST_P(EntryLimit, TheEntryBeyondIsRefusedAtItsByte) {
    const LimitCase& c = GetParam();
    const Outcome out = scan_from(c, kMaxEntries - 1, 0);
    ASSERT_TRUE(out.raised);
    EXPECT_EQ(out.identifier, "helixo:flatmark:TooManyEntries");
    EXPECT_EQ(out.message,
              "More than 4294967295 entries at byte " + std::to_string(c.second) + ".");
    EXPECT_EQ(out.entries, kMaxEntries);
    EXPECT_TRUE(out.files_closed);
}

TEST_P(EntryLimit, TheLineCountGoesOnPastThirtyTwoBits) {
    const LimitCase& c = GetParam();
    const std::uint64_t start = 0xFFFFFFFFu;
    const Outcome out = scan_from(c, 0, start);
    EXPECT_FALSE(out.raised) << out.message;
    EXPECT_EQ(out.lines, start + c.lines);
    EXPECT_EQ(out.entries, 2u);
}

const LimitCase kCases[] = {
    {"Fasta", scan_fasta<std::uint64_t>, ">a\nAC\nGT\n>b\nGT\n", "", 9, 5},
    {"Fastq", scan_fastq<std::uint64_t>, "@a\nAC\n+\nII\n@b\nGT\n+\nII\n", "", 11, 8},
    {"Table", scan_table<std::uint64_t>, "x\t1\n\ny\t2\n", "", 5, 3},
    {"Mrtab", scan_mrtab<std::uint64_t>, "a\t1\na\t2\nb\t3\n", "", 8, 3},
    {"Flat", scan_flat<std::uint64_t>, "l1\nl2\n//\nl3\n", "//", 9, 4},
};

INSTANTIATE_TEST_SUITE_P(Scanners, EntryLimit, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<LimitCase>& p) {
                             return std::string(p.param.label);
                         });

} // namespace
