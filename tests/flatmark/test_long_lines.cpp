// A line is one line whatever its length: every indexer type gives the same keys, counts and
// polls for a file whose lines are stretched past the reader's block as for the same file with
// short lines, and offsets that are the short file's, moved by the stretch. In the texts below
// '~' stands for a run of 'x' and '_' for a run of spaces, one character long in the short file
// and `stretch` long in the long one, so keys, prefixes, delimiters and tokens come to lie
// across and beyond the windows a long line is read through.
#include "indexkit.h"

using namespace indexkit;
using testkit::TempDir;

namespace {

struct StretchCase {
    const char* name;
    const char* type;
    const char* text;
    double key_fields = 0;
    const char* field_delimiter = "\t";
    const char* comment_prefix = "";
    const char* header_prefix = "";
    const char* entry_delimiter = "";
    const char* key_token = "";
};

const StretchCase kStretchCases[] = {
    // SAM-like lines keyed on the name, and on a tag after the long SEQ and QUAL fields.
    {"TableOnName", "table", "@HD\tVN:1.6\nr1\t0\tc\t1\t60\t~\t~\tXK:Z:a\nr2\t16\tc\t9\t60\t~\t~\n",
     0, "\t", "", "@"},
    {"TableOnTagAfterLongFields", "table", "r1\t0\t~\t~\tXK:Z:a\n_\nr2\t0\t~\t~\tXK:Z:b\t~\n", 4},
    // Long leading spaces before a comment, on a blank line and before a key.
    {"TableLeadingSpaces", "table", "_#c ~\n_\n_k1\tv~\n_\r\nk2\t~\n", 0, "\t", "#"},
    {"TableSpaceDelimiter", "table", "a~ _ k1 ~\nb _k2\n", 1, " "},
    // The first comma after the key field is a blank, across a window.
    {"TableCommaRule", "table", "x~,k1,tail~\nx~,_,k2\nx,_k3,~\n", 1, ","},
    {"MrtabKeyAfterLongField", "mrtab", "~\tchr1\t1\n~\tchr1\t~\n_\n~\tchr2\t3\n~\t\t4\n", 1},
    {"Flat", "flat", "ID k1\nSQ ~\n//\nSQ ~ ID k2\n~\n// ~ID k3\n_// \nSQ ~\n~ ID k4\n", 0, "\t",
     "", "", "//", "ID"},
    {"FlatLongHeaderLines", "flat", "#~\n_\n#\nk1 ~\n//\nk2 ~\n", 0, "\t", "", "#", "//"},
    {"Fasta", "fasta", "~\n>k1 desc~\nAC~GT\n~\n>_k2\n~>x\n>k3", 0},
    {"Fastq", "fastq", "@r1 ~\nAC~\n+\nII~\n@r2\n~\n+\n@~\n~\n@r3\nA\n+~\nI\n", 0},
};

void PrintTo(const StretchCase& c, std::ostream* os) {
    *os << c.name;
}

std::string stretched(const std::string& text, std::size_t stretch) {
    std::string out;
    for (char c : text) {
        if (c == '~')
            out.append(stretch, 'x');
        else if (c == '_')
            out.append(stretch, ' ');
        else
            out.push_back(c);
    }
    return out;
}

// Where byte p of the short text lies in the stretched one.
std::uint64_t moved(const std::string& text, std::uint64_t p, std::size_t stretch) {
    std::uint64_t runs = 0;
    for (std::uint64_t i = 0; i < p && i < text.size(); ++i)
        runs += text[i] == '~' || text[i] == '_';
    return p + runs * (stretch - 1);
}

struct Outcome {
    hxhost::CallResult result;
    IndexFile index;
};

Outcome index_text(const TempDir& dir, const StretchCase& c, const std::string& text,
                   double consecutive) {
    Request r;
    r.type = c.type;
    r.input = dir.write_text("in.txt", text);
    r.index = dir.file("out.idx");
    r.wide = 1;
    r.consecutive = consecutive;
    r.key_fields = c.key_fields;
    r.field_delimiter = c.field_delimiter;
    r.comment_prefix = c.comment_prefix;
    r.header_prefix = c.header_prefix;
    r.entry_delimiter = c.entry_delimiter;
    r.key_token = c.key_token;
    Outcome out{run(r), {}};
    if (out.result.ok)
        out.index = read_index(r.index);
    return out;
}

class StretchedLines : public ::testing::TestWithParam<StretchCase> {};

TEST_P(StretchedLines, GiveTheShortFilesIndexMovedByTheStretch) {
    const StretchCase& c = GetParam();
    TempDir dir;
    for (double consecutive : {1.0, 0.0}) {
        const Outcome short_file = index_text(dir, c, stretched(c.text, 1), consecutive);
        ASSERT_TRUE(short_file.result.ok) << short_file.result.message;
        ASSERT_GT(short_file.index.keys.size(), 0u);
        // Around the old 65,534-character piece, the reader's 256 KiB block, several blocks.
        for (std::size_t stretch : {65535, 262144, 600001}) {
            SCOPED_TRACE("stretch " + std::to_string(stretch));
            const Outcome long_file = index_text(dir, c, stretched(c.text, stretch), consecutive);
            ASSERT_TRUE(long_file.result.ok) << long_file.result.message;
            EXPECT_EQ(output(long_file.result, 0), output(short_file.result, 0));
            EXPECT_EQ(output(long_file.result, 1), output(short_file.result, 1));
            EXPECT_EQ(long_file.result.polls.handle, short_file.result.polls.handle);
            EXPECT_EQ(long_file.index.keys, short_file.index.keys);
            std::vector<std::uint64_t> expected;
            for (std::uint64_t p : short_file.index.offsets)
                expected.push_back(moved(c.text, p, stretch));
            EXPECT_EQ(long_file.index.offsets, expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Flatmark, StretchedLines, ::testing::ValuesIn(kStretchCases),
                         [](const testing::TestParamInfo<StretchCase>& param) {
                             return std::string(param.param.name);
                         });

// The key limit holds for a key read from far into a long line.
TEST(LongLineKeys, KeyLongerThan255CharactersPastTheWindowNamesItsLine) {
    TempDir dir;
    Request r;
    r.type = "table";
    r.key_fields = 1;
    r.input = dir.write_text("in.tsv", "a\tk\n" + std::string(700000, 'x') + "\t" +
                                           std::string(256, 'k') + "\n");
    r.index = dir.file("out.idx");
    EXPECT_HX_ERROR(run(r), "helixo:flatmark:KeyTooLong",
                    "Key longer than 255 characters at line 2.");
    r.input = dir.write_text("in.tsv", "a\tk\n" + std::string(700000, 'x') + "\t" +
                                           std::string(255, 'k') + "\n");
    auto result = run(r);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(read_index(r.index).keys, (std::vector<std::string>{"k", std::string(255, 'k')}));
}

} // namespace
