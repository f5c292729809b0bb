// "table" and "mrtab" scanning: blank, comment and header lines, the key rule with its field
// delimiter cases, runs of one key, missing and over-long keys, line endings.
#include "indexkit.h"

using namespace indexkit;
using testkit::TempDir;

namespace {

class TableScan : public ScanFixture {
protected:
    IndexFile index_of(const Request& r) {
        auto result = run(r);
        EXPECT_TRUE(result.ok) << result.identifier << ": " << result.message;
        return read_index(r.index);
    }
};

using Keys = std::vector<std::string>;
using Offsets = std::vector<std::uint64_t>;

struct Ending {
    const char* name;
    const char* ending;
    bool final_newline;
};

class TableEndings : public ::testing::TestWithParam<Ending> {};

TEST_P(TableEndings, EveryDataLineIsOneEntryInBothLayouts) {
    TempDir dir;
    const std::string lf = "#comment\n\nk1\tv1\n  \nk2\tv2\n#another\nk3\tv3\n";
    const std::string text = with_endings(lf, GetParam().ending, GetParam().final_newline);
    // Independently: data lines are those of the text that begin with "k".
    Offsets starts, ends;
    for (std::uint64_t at : line_starts(text)) {
        if (text[at] != 'k')
            continue;
        starts.push_back(at);
        const std::size_t lf2 = text.find('\n', at);
        ends.push_back(lf2 == std::string::npos ? text.size() : lf2 + 1);
    }
    for (int consecutive : {1, 0}) {
        Request r;
        r.type = "table";
        r.input = dir.write_text("in.tsv", text);
        r.index = dir.file("out.idx");
        r.comment_prefix = "#";
        r.consecutive = consecutive;
        auto result = run(r);
        ASSERT_TRUE(result.ok) << result.message;
        EXPECT_EQ(output(result, 0), 3);
        EXPECT_EQ(output(result, 1), 7);
        const IndexFile f = read_index(r.index);
        EXPECT_EQ(f.keys, (Keys{"k1", "k2", "k3"}));
        if (consecutive) {
            EXPECT_EQ(f.offsets, (Offsets{starts[0], starts[1], starts[2], ends[2]}));
        } else {
            EXPECT_EQ(f.offsets,
                      (Offsets{starts[0], ends[0], starts[1], ends[1], starts[2], ends[2]}));
        }
    }
}

TEST_P(TableEndings, RunsOfOneKeyAreOneEntry) {
    TempDir dir;
    const std::string lf = "chr10\t1\nchr10\t2\nchr1\t3\n";
    const std::string text = with_endings(lf, GetParam().ending, GetParam().final_newline);
    const Offsets lines = line_starts(text);
    Request r;
    r.type = "mrtab";
    r.input = dir.write_text("in.tsv", text);
    r.index = dir.file("out.idx");
    r.consecutive = 0;
    auto result = run(r);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(output(result, 0), 2);
    EXPECT_EQ(output(result, 1), 3);
    const IndexFile f = read_index(r.index);
    EXPECT_EQ(f.keys, (Keys{"chr10", "chr1"}));
    EXPECT_EQ(f.offsets, (Offsets{0, lines[2], lines[2], text.size()}));
}

const Ending kEndings[] = {
    {"LF", "\n", true},
    {"CRLF", "\r\n", true},
    {"NoFinalNewline", "\n", false},
};
INSTANTIATE_TEST_SUITE_P(Flatmark, TableEndings, ::testing::ValuesIn(kEndings),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(TableScan, MrtabEmptyKeyFieldExtendsTheCurrentRun) {
    Request r = request("mrtab", "x\ta\n\tb\ny\tc\n");
    r.key_fields = 0;
    r.consecutive = 0;
    r.field_delimiter = "\t";
    const IndexFile f = index_of(r);
    EXPECT_EQ(f.keys, (Keys{"x", "y"}));
    EXPECT_EQ(f.offsets, (Offsets{0, 7, 7, 11}));
}

TEST_F(TableScan, MrtabCommentInsideARunNeitherSplitsNorExtendsIt) {
    Request r = request("mrtab", "a\t1\n#note\na\t2\n#tail\nb\t3\n#end\n");
    r.comment_prefix = "#";
    r.consecutive = 0;
    auto result = run(r);
    EXPECT_EQ(output(result, 0), 2);
    EXPECT_EQ(output(result, 1), 6);
    EXPECT_EQ(read_index(r.index).offsets, (Offsets{0, 14, 20, 24}));
}

TEST_F(TableScan, MrtabMissingFieldIsAnErrorEvenWithoutKeys) {
    Request r = request("mrtab", "a\tx\tk\nb\n");
    r.key_fields = 2;
    r.keys = 0;
    EXPECT_HX_ERROR(run(r), "helixo:flatmark:KeyNotFound", "Cannot find key.");
    EXPECT_EQ(testkit::read_file(r.index), std::string(512, '\0'));
}

TEST_F(TableScan, MrtabNoEntryWhenOnlyEmptyKeys) {
    Request r = request("mrtab", "\tx\n\ty\n");
    r.consecutive = 0;
    auto result = run(r);
    EXPECT_EQ(output(result, 0), 0);
    EXPECT_TRUE(read_index(r.index).offsets.empty());
}

TEST_F(TableScan, TableMissingFieldWithKeysIsAnError) {
    Request r = request("table", "a,b,k\nc,d\n");
    r.key_fields = 2;
    r.field_delimiter = ",";
    EXPECT_HX_ERROR(run(r), "helixo:flatmark:KeyNotFound", "Cannot find key.");
    // The placeholder and the key of the first entry.
    EXPECT_EQ(testkit::read_file(r.index), std::string(512, '\0') + "k\n");
}

TEST_F(TableScan, TableMissingFieldWithoutKeysIsAnOrdinaryEntry) {
    Request r = request("table", "a,b,k\nc,d\n");
    r.key_fields = 2;
    r.field_delimiter = ",";
    r.keys = 0;
    const IndexFile f = index_of(r);
    EXPECT_EQ(f.entries, 2u);
    EXPECT_EQ(f.offsets, (Offsets{0, 6, 10}));
}

TEST_F(TableScan, BlankDelimiterSkipsRunsOfBlanks) {
    Request r = request("table", "a   b\n  c d\n");
    r.key_fields = 1;
    r.field_delimiter = " ";
    EXPECT_EQ(index_of(r).keys, (Keys{"b", "d"}));
}

TEST_F(TableScan, CommaAfterTheKeyEndsIt) {
    Request r = request("table", "x,key,rest\ny,other\n");
    r.key_fields = 1;
    r.field_delimiter = ",";
    EXPECT_EQ(index_of(r).keys, (Keys{"key", "other"}));
}

TEST_F(TableScan, TabEndsAKeyAndCarriageReturnIsNoPartOfIt) {
    Request r = request("table", "a\tb\tc\r\nd\te\r\n");
    r.key_fields = 1;
    EXPECT_EQ(index_of(r).keys, (Keys{"b", "e"}));
}

TEST_F(TableScan, CommentAndHeaderTogetherDisableHeaderLines) {
    Request r = request("table", "@h\n#c\nk\n");
    r.comment_prefix = "#";
    r.header_prefix = "@";
    const IndexFile f = index_of(r);
    EXPECT_EQ(f.keys, (Keys{"@h", "k"}));
}

TEST_F(TableScan, HeaderPrefixOnlyCountsAtTheTop) {
    Request r = request("table", "@h1\n\n  @h2\nk1\n@late\n");
    r.header_prefix = "@";
    auto result = run(r);
    EXPECT_EQ(output(result, 1), 5);
    const IndexFile f = read_index(r.index);
    EXPECT_EQ(f.keys, (Keys{"k1", "@late"}));
    EXPECT_EQ(f.offsets, (Offsets{11, 14, 20}));
}

TEST_F(TableScan, LineFeedInsideThePrefixStillMatches) {
    // Comment prefix "##": a line of one "#" ends before the prefix does, and counts.
    Request r = request("table", "#\nk\n#x\n");
    r.comment_prefix = "##";
    EXPECT_EQ(index_of(r).keys, (Keys{"k", "#x"}));
}

TEST_F(TableScan, LastLineWithoutLineFeedMustHoldTheWholePrefix) {
    Request r = request("table", "k\n#");
    r.comment_prefix = "##";
    EXPECT_EQ(index_of(r).keys, (Keys{"k", "#"}));
}

TEST_F(TableScan, KeyOf255CharactersIsAccepted) {
    const std::string key(255, 'k');
    Request r = request("table", key + "\tv\n");
    EXPECT_EQ(index_of(r).keys, (Keys{key}));
}

TEST_F(TableScan, KeyOf256CharactersIsRejectedWithItsLine) {
    Request r = request("table", "#c\nshort\n" + std::string(256, 'k') + "\n");
    r.comment_prefix = "#";
    EXPECT_HX_ERROR(run(r), "helixo:flatmark:KeyTooLong",
                    "Key longer than 255 characters at line 3.");
    EXPECT_EQ(testkit::read_file(r.index), std::string(512, '\0') + "short\n");
}

TEST_F(TableScan, MrtabReadsKeysEvenWhenNotWritingThem) {
    Request r = request("mrtab", "a\t1\n" + std::string(300, 'k') + "\t2\n");
    r.keys = 0;
    EXPECT_HX_ERROR(run(r), "helixo:flatmark:KeyTooLong",
                    "Key longer than 255 characters at line 2.");
}

TEST_F(TableScan, TableWithoutKeysIgnoresLongFields) {
    Request r = request("table", std::string(300, 'k') + "\n");
    r.keys = 0;
    EXPECT_EQ(index_of(r).entries, 1u);
}

TEST_F(TableScan, EveryLineIsPolledAndCounted) {
    Request r = request("mrtab", "#c\na\t1\n\na\t2\nb\t3\n");
    r.comment_prefix = "#";
    auto result = run(r);
    EXPECT_EQ(output(result, 1), 5);
    EXPECT_EQ(result.polls.handle, 5);
}

} // namespace
