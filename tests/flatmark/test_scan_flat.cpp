// "flat" scanning: delimiter lines with and without trailing text, the header pass, the key
// token across lines, "Cannot find key.", line counts and polls, line endings.
#include "indexkit.h"

using namespace indexkit;
using testkit::TempDir;

namespace {

using Keys = std::vector<std::string>;
using Offsets = std::vector<std::uint64_t>;

class FlatScan : public ::testing::Test {
protected:
    TempDir dir;
    Request request(const std::string& text) {
        Request r;
        r.type = "flat";
        r.input = dir.write_text("in.txt", text);
        r.index = dir.file("out.idx");
        r.entry_delimiter = "//";
        return r;
    }
};

struct Ending {
    const char* name;
    const char* ending;
    bool final_newline;
};

class FlatEndings : public ::testing::TestWithParam<Ending> {};

TEST_P(FlatEndings, EntriesEndAtDelimiterLinesInBothLayouts) {
    TempDir dir;
    const std::string lf = "ID a\nxx\n//\nID b\n//\n";
    const std::string text = with_endings(lf, GetParam().ending, GetParam().final_newline);
    const Offsets lines = line_starts(text);
    for (int consecutive : {1, 0}) {
        Request r;
        r.type = "flat";
        r.input = dir.write_text("in.txt", text);
        r.index = dir.file("out.idx");
        r.entry_delimiter = "//";
        r.key_token = "ID";
        r.consecutive = consecutive;
        auto result = run(r);
        ASSERT_TRUE(result.ok) << result.message;
        EXPECT_EQ(output(result, 0), 2);
        EXPECT_EQ(output(result, 1), 5);
        const IndexFile f = read_index(r.index);
        EXPECT_EQ(f.keys, (Keys{"a", "b"}));
        // An entry ends after its last content line; the delimiter line is outside it.
        if (consecutive)
            EXPECT_EQ(f.offsets, (Offsets{lines[0], lines[3], lines[4]}));
        else
            EXPECT_EQ(f.offsets, (Offsets{lines[0], lines[2], lines[3], lines[4]}));
    }
}

const Ending kEndings[] = {
    {"LF", "\n", true},
    {"CRLF", "\r\n", true},
    {"NoFinalNewline", "\n", false},
};
INSTANTIATE_TEST_SUITE_P(Flatmark, FlatEndings, ::testing::ValuesIn(kEndings),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(FlatScan, DelimiterWithTextStartsTheNextEntryAtThatText) {
    Request r = request("ID a\n// ID b\nzz\n");
    r.key_token = "ID";
    r.consecutive = 0;
    auto result = run(r);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(output(result, 0), 2);
    EXPECT_EQ(output(result, 1), 3);   // "// ID b" counts once
    EXPECT_EQ(result.polls.handle, 4); // polled as a delimiter line and again as text
    const IndexFile f = read_index(r.index);
    EXPECT_EQ(f.keys, (Keys{"a", "b"}));
    EXPECT_EQ(f.offsets, (Offsets{0, 5, 8, 16}));
}

TEST_F(FlatScan, BlankLineAfterADelimiterStartsTheNextEntry) {
    Request r = request("x\n//\n\ny\n");
    r.keys = 0;
    r.consecutive = 0;
    auto result = run(r);
    EXPECT_EQ(output(result, 0), 2);
    EXPECT_EQ(read_index(r.index).offsets, (Offsets{0, 2, 5, 8}));
}

TEST_F(FlatScan, KeyTokenEndingItsLineTakesTheNextLinesFirstWord) {
    Request r = request("DE x\nAC\n\n   key1 more\n//\nAC key2 AC other\n");
    r.key_token = "AC";
    EXPECT_EQ((run(r), read_index(r.index).keys), (Keys{"key1", "key2"}));
}

TEST_F(FlatScan, EmptyKeyTokenTakesTheEntrysFirstWord) {
    Request r = request("\n  first second\n//\nthird\n");
    EXPECT_EQ((run(r), read_index(r.index).keys), (Keys{"first", "third"}));
}

TEST_F(FlatScan, EntryWithoutTheTokenFailsWhenTheNextEntryStarts) {
    Request r = request("AC one\n//\nno token here\n//\nAC three\n");
    r.key_token = "AC";
    EXPECT_HX_ERROR(run(r), "helixo:flatmark:KeyNotFound", "Cannot find key.");
    EXPECT_EQ(testkit::read_file(r.index), std::string(512, '\0') + "one\n");
}

TEST_F(FlatScan, LastEntryWithoutTheTokenFailsAtTheEnd) {
    Request r = request("AC one\n//\nno token\n");
    r.key_token = "AC";
    EXPECT_HX_ERROR(run(r), "helixo:flatmark:KeyNotFound", "Cannot find key.");
}

TEST_F(FlatScan, MissingTokenIsFineWithoutKeys) {
    Request r = request("AC one\n//\nno token\n");
    r.key_token = "AC";
    r.keys = 0;
    EXPECT_EQ((run(r), read_index(r.index).entries), 2u);
}

TEST_F(FlatScan, EmptyOrHeaderOnlyFileHasNoEntries) {
    for (const std::string text : {"", "#h1\n\n#h2\n"}) {
        Request r = request(text);
        r.header_prefix = "#";
        auto result = run(r);
        ASSERT_TRUE(result.ok) << result.message;
        EXPECT_EQ(output(result, 0), 0);
        EXPECT_EQ(output(result, 1), 0);
        EXPECT_EQ(read_index(r.index).offsets, (Offsets{0}));
    }
}

TEST_F(FlatScan, HeaderLinesAreNeitherCountedNorPolled) {
    Request r = request("#h1\n\n #h2\nx\n#not header\n");
    r.header_prefix = "#";
    r.keys = 0;
    auto result = run(r);
    EXPECT_EQ(output(result, 0), 1);
    EXPECT_EQ(output(result, 1), 2);
    EXPECT_EQ(result.polls.handle, 2);
    EXPECT_EQ(read_index(r.index).offsets, (Offsets{10, 24}));
}

TEST_F(FlatScan, DelimiterAfterBlanksAndWithCarriageReturnIsAWholeLine) {
    Request r = request("a\n  //  \r\nb\n");
    r.consecutive = 0;
    auto result = run(r);
    EXPECT_EQ(output(result, 0), 2);
    EXPECT_EQ(output(result, 1), 3);
    EXPECT_EQ(read_index(r.index).offsets, (Offsets{0, 2, 10, 12}));
}

TEST_F(FlatScan, KeyLongerThan255CharactersNamesItsLine) {
    Request r = request("x a\n//\nx\n" + std::string(256, 'k') + "\n");
    r.key_token = "x";
    EXPECT_HX_ERROR(run(r), "helixo:flatmark:KeyTooLong",
                    "Key longer than 255 characters at line 4.");
}

} // namespace
