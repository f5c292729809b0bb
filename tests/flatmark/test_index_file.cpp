// The index file byte for byte: header fields, keys section and the offset table in both
// layouts and widths.
#include "indexkit.h"

using namespace indexkit;
using testkit::TempDir;

namespace {

class IndexFileFormat : public ScanFixture {};

TEST_F(IndexFileFormat, TwoEntryFastaGivesTheDocumented528ByteFile) {
    Request r = request("fasta", ">a\nAC\n>b\nGT\n");
    auto result = run(r);
    ASSERT_TRUE(result.ok) << result.identifier << " " << result.message;
    EXPECT_EQ(output(result, 0), 2);
    EXPECT_EQ(output(result, 1), 4);

    std::string expected = "QZRidx";
    expected += '\x01';
    expected += " 2.0";
    expected += '\0';
    expected += le32(2) + le64(512) + le64(516);
    expected += '\x01';
    expected += '\0';
    expected += '\t';
    expected.resize(512, '\0');
    expected += "a\nb\n";
    expected += le32(0) + le32(6) + le32(12);
    ASSERT_EQ(expected.size(), 528u);
    EXPECT_EQ(testkit::read_file(r.index), expected);
}

TEST_F(IndexFileFormat, KeysOffPairedNarrowTableIs512Plus8NBytes) {
    Request r = request("table", "a\t1\nb\t2\nc\t3\n");
    r.keys = 0;
    r.consecutive = 0;
    ASSERT_TRUE(run(r).ok);
    EXPECT_EQ(testkit::file_size(r.index), 512 + 8 * 3);
    const IndexFile f = read_index(r.index);
    EXPECT_EQ(f.keys_position, 0u);
    EXPECT_EQ(f.table_position, 512u);
    EXPECT_EQ(f.layout, 0);
    EXPECT_EQ(f.offsets, (std::vector<std::uint64_t>{0, 4, 4, 8, 8, 12}));
}

TEST_F(IndexFileFormat, KeysMoveTheOffsetTableByTheirLength) {
    Request r = request("table", "alpha\t1\nbe\t2\n");
    const IndexFile f = (run(r), read_index(r.index));
    EXPECT_EQ(f.keys_position, 512u);
    EXPECT_EQ(f.table_position, 512u + 6 + 3);
    EXPECT_EQ(f.keys, (std::vector<std::string>{"alpha", "be"}));
    EXPECT_EQ(f.offsets, (std::vector<std::uint64_t>{0, 8, 13}));
}

TEST_F(IndexFileFormat, WideOffsetsAreEightBytesWithTheSameHeaderFields) {
    Request narrow = request("table", "alpha\t1\nbe\t2\n");
    Request wide = request("table", "alpha\t1\nbe\t2\n");
    wide.index = dir.file("wide.idx");
    wide.wide = 1;
    ASSERT_TRUE(run(narrow).ok);
    ASSERT_TRUE(run(wide).ok);
    const std::string n = testkit::read_file(narrow.index);
    const std::string w = testkit::read_file(wide.index);
    EXPECT_EQ(w.size(), n.size() + 3 * 4);
    const IndexFile fn = parse_index(n);
    const IndexFile fw = parse_index(w);
    EXPECT_EQ(fw.width_byte, 1);
    EXPECT_EQ(fn.width_byte, 0);
    EXPECT_EQ(fw.offsets, fn.offsets);
    EXPECT_EQ(fw.table_position, fn.table_position);
    EXPECT_EQ(w.substr(0, 33), n.substr(0, 33)); // everything before the width byte
}

TEST_F(IndexFileFormat, HeaderFieldsForEveryLayoutAndWidth) {
    const std::string text = "k1\tx\nk1\ty\nk2\tz\n";
    for (int wide : {0, 1}) {
        for (int consecutive : {0, 1}) {
            Request r = request("mrtab", text);
            r.wide = wide;
            r.consecutive = consecutive;
            r.keys = 0;
            ASSERT_TRUE(run(r).ok);
            const IndexFile f = read_index(r.index);
            SCOPED_TRACE("wide " + std::to_string(wide) + " consecutive " +
                         std::to_string(consecutive));
            EXPECT_EQ(f.magic, "QZRidx");
            EXPECT_EQ(f.magic_byte, 1);
            EXPECT_EQ(f.version, " 2.0");
            EXPECT_EQ(f.reserved, 0);
            EXPECT_EQ(f.entries, 2u);
            EXPECT_EQ(f.layout, consecutive);
            EXPECT_EQ(f.width_byte, wide);
            EXPECT_TRUE(f.zero_after_tab);
            if (consecutive)
                EXPECT_EQ(f.offsets, (std::vector<std::uint64_t>{0, 10, 15}));
            else
                EXPECT_EQ(f.offsets, (std::vector<std::uint64_t>{0, 10, 10, 15}));
            EXPECT_EQ(testkit::file_size(r.index),
                      512 + static_cast<long>(f.offsets.size()) * (wide ? 8 : 4));
        }
    }
}

TEST_F(IndexFileFormat, FastaIgnoresThePairedLayoutRequest) {
    Request r = request("fasta", ">a\nAC\n>b\nGT\n");
    r.consecutive = 0;
    ASSERT_TRUE(run(r).ok);
    const IndexFile f = read_index(r.index);
    EXPECT_EQ(f.layout, 1);
    EXPECT_EQ(f.offsets, (std::vector<std::uint64_t>{0, 6, 12}));
}

TEST_F(IndexFileFormat, EmptyEntryDelimiterPutsTheTabAt34AndTheZeroAt35) {
    Request r = request("table", "a\n");
    ASSERT_TRUE(run(r).ok);
    const std::string bytes = testkit::read_file(r.index);
    EXPECT_EQ(bytes[34], '\t');
    EXPECT_EQ(bytes[35], '\0');
}

TEST_F(IndexFileFormat, EntryDelimiterIsRecordedForEveryType) {
    for (const char* type : {"mrtab", "table", "fasta", "fastq", "flat"}) {
        Request r = request(type, "");
        r.entry_delimiter = "//";
        ASSERT_TRUE(run(r).ok) << type;
        const std::string bytes = testkit::read_file(r.index);
        EXPECT_EQ(bytes.substr(34, 4), std::string("//\t\0", 4)) << type;
    }
}

TEST_F(IndexFileFormat, LongestEntryDelimiterEndsTheHeaderAtByte511) {
    Request r = request("flat", "x\n");
    r.entry_delimiter = std::string(476, '=');
    r.keys = 0;
    ASSERT_TRUE(run(r).ok);
    const std::string bytes = testkit::read_file(r.index);
    EXPECT_EQ(bytes.substr(34, 476), r.entry_delimiter);
    EXPECT_EQ(bytes[510], '\t');
    EXPECT_EQ(bytes[511], '\0');
    EXPECT_EQ(read_index(r.index).offsets, (std::vector<std::uint64_t>{0, 2}));
}

TEST_F(IndexFileFormat, NoEntriesGiveTheSingleValuePerType) {
    struct Case {
        const char* type;
        std::string text;
        std::uint64_t value;
    };
    const Case cases[] = {
        {"mrtab", "#h\n", 0}, {"table", "", 0}, {"fasta", "ACGT\n", 5},
        {"fastq", "xx\n", 3}, {"flat", "", 0},
    };
    for (const Case& c : cases) {
        Request r = request(c.type, c.text);
        r.header_prefix = "#";
        r.entry_delimiter = "//";
        auto result = run(r);
        ASSERT_TRUE(result.ok) << c.type << ": " << result.message;
        EXPECT_EQ(output(result, 0), 0) << c.type;
        const IndexFile f = read_index(r.index);
        EXPECT_EQ(f.entries, 0u);
        EXPECT_EQ(f.keys_position, 512u);
        EXPECT_EQ(f.table_position, 512u);
        EXPECT_EQ(f.offsets, (std::vector<std::uint64_t>{c.value})) << c.type;
    }
}

} // namespace
