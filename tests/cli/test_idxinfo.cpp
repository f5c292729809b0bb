// idxinfo, the reader of index file headers that the demo runs, on index files that flatmark
// writes: its named fields and its copy of the offset table against the suite's own reader of
// the format, and damaged files refused.
#include "hxrun_runner.h"
#include "index_format.h"
#include "indexkit.h"

#include <algorithm>
#include <functional>
#include <map>
#include <string>

namespace {

namespace fmt = hxb::index_format;

std::string idxinfo_path() {
    return testkit::bin_dir() + "/idxinfo";
}

// The "name value" lines of idxinfo's output.
std::map<std::string, std::string> fields_of(const std::string& out) {
    std::map<std::string, std::string> fields;
    for (std::size_t at = 0; at < out.size();) {
        const std::size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end - at);
        const std::size_t blank = line.find(' ');
        fields[line.substr(0, blank)] = blank == std::string::npos ? "" : line.substr(blank + 1);
        at = end == std::string::npos ? out.size() : end + 1;
    }
    return fields;
}

struct IndexCase {
    const char* name;
    const char* type;
    const char* text;
    double wide, consecutive, keys;
    const char* entry_delimiter;
    std::size_t appended; // bytes added after the table, as a traitmark column would be
};

const IndexCase kIndexCases[] = {
    {"FastaWithKeys", "fasta", ">a x\nACGT\nAC\n>b\nGG\n>c\n", 0, 1, 1, "", 0},
    {"FlatPairedWide", "flat", "one\n//\ntwo\nthree\n//\nfour\n", 1, 0, 0, "//", 0},
    {"FastqWithAColumn", "fastq", "@r1\nACG\n+\nIII\n@r2\nTT\n+\nII\n", 0, 1, 1, "", 4},
};

class IdxinfoOnFlatmarkIndex : public ::testing::TestWithParam<IndexCase> {};

TEST_P(IdxinfoOnFlatmarkIndex, NamesTheHeaderFieldsAndCopiesTheTable) {
    const IndexCase& c = GetParam();
    testkit::TempDir dir;
    indexkit::Request request;
    request.type = c.type;
    request.input = dir.write_text("in.txt", c.text);
    request.index = dir.file("in.idx");
    request.wide = c.wide;
    request.consecutive = c.consecutive;
    request.keys = c.keys;
    request.entry_delimiter = c.entry_delimiter;
    const hxhost::CallResult made = indexkit::run(request);
    ASSERT_TRUE(made.ok) << made.identifier << ": " << made.message;
    const indexkit::IndexFile expected = indexkit::read_index(request.index);
    const std::string written = testkit::read_file(request.index);
    const std::string table = written.substr(expected.table_position);
    const std::string file = dir.write_text("in.idx", written + std::string(c.appended, '\x07'));

    const std::string copy = dir.file("table.bin");
    const clitest::Run r = clitest::run_program({idxinfo_path(), file, "--table", copy});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto fields = fields_of(r.out);
    EXPECT_EQ(fields.at("magic"), "\"" + expected.magic + "\\x01\"");
    EXPECT_EQ(fields.at("version"), "\"" + expected.version + "\"");
    EXPECT_EQ(fields.at("entries"), std::to_string(expected.entries));
    EXPECT_EQ(fields.at("keys_position"), std::to_string(expected.keys_position));
    EXPECT_EQ(fields.at("table_position"), std::to_string(expected.table_position));
    EXPECT_EQ(fields.at("layout"), expected.layout == 1 ? "consecutive" : "paired");
    EXPECT_EQ(fields.at("offset_size"),
              std::to_string(table.size() / std::max<std::size_t>(expected.offsets.size(), 1)));
    EXPECT_EQ(fields.at("entry_delimiter"), "\"" + expected.entry_delimiter + "\"");
    EXPECT_EQ(fields.at("table_end"), std::to_string(written.size()));
    EXPECT_EQ(fields.at("file_size"), std::to_string(written.size() + c.appended));
    EXPECT_EQ(fields.size(), 10u) << r.out;
    EXPECT_EQ(testkit::read_file(copy), table);
}

INSTANTIATE_TEST_SUITE_P(Cases, IdxinfoOnFlatmarkIndex, ::testing::ValuesIn(kIndexCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

struct Damage {
    const char* name;
    std::function<void(std::string&)> apply;
    const char* message; // idxinfo's line after "idxinfo: PATH: "
};

// The index of these two entries with keys, 4-byte offsets: a 4-byte keys section, then the
// table of 3 offsets at byte 516, 528 bytes in all.
const char kTwoEntries[] = ">a\nAC\n>b\nGT\n";

const Damage kDamages[] = {
    {"CutInsideTheHeader", [](std::string& b) { b.resize(100); },
     "The file has 100 bytes, fewer than the 512-byte header of an index file."},
    {"CutInsideTheTable", [](std::string& b) { b.resize(b.size() - 2); },
     "Offset table at byte 516 with 3 offsets of 4 bytes (entry count 2 at byte 12) runs past "
     "the end of the file (526 bytes)."},
    {"ForeignMagic", [](std::string& b) { b[fmt::kMagicAt] = 'X'; },
     "Magic at byte 0 is \"XZRidx\\x01\", not an index file's \"QZRidx\\x01\"."},
    {"UnknownLayout", [](std::string& b) { b[fmt::kLayoutAt] = 7; },
     "Layout at byte 32 is 7, neither 1 (consecutive) nor 0 (paired)."},
    {"TablePastTheEnd", [](std::string& b) { b[fmt::kTablePositionAt + 2] = 1; },
     "Offset table position at byte 24 is 66052, past the end of the file (528 bytes)."},
};

class IdxinfoOnDamagedIndex : public ::testing::TestWithParam<Damage> {};

TEST_P(IdxinfoOnDamagedIndex, RefusesWithTheFieldAndNoOutput) {
    testkit::TempDir dir;
    indexkit::Request request;
    request.input = dir.write_text("in.fa", kTwoEntries);
    request.index = dir.file("in.idx");
    const hxhost::CallResult made = indexkit::run(request);
    ASSERT_TRUE(made.ok) << made.identifier << ": " << made.message;
    std::string bytes = testkit::read_file(request.index);
    GetParam().apply(bytes);
    const std::string file = dir.write_text("in.idx", bytes);

    const std::string copy = dir.file("table.bin");
    const clitest::Run r = clitest::run_program({idxinfo_path(), "--table", copy, file});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "idxinfo: " + file + ": " + GetParam().message + "\n");
    EXPECT_FALSE(testkit::file_exists(copy));
}

INSTANTIATE_TEST_SUITE_P(Cases, IdxinfoOnDamagedIndex, ::testing::ValuesIn(kDamages),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

} // namespace
