// A stop request at poll K: the call ends with "Operation terminated by user.", both files
// closed, and the index file holds the 512 zero bytes and the keys written before poll K.
#include "indexkit.h"

using namespace indexkit;
using testkit::TempDir;

namespace {

struct InterruptCase {
    const char* name;
    const char* type;
    std::string text;
    long poll_k;
    std::vector<std::string> keys_before;
};

std::ostream& operator<<(std::ostream& os, const InterruptCase& c) {
    return os << c.name << " at poll " << c.poll_k;
}

class StopRequest : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(StopRequest, EndsTheCallWithThePlaceholderAndTheKeysSoFar) {
    const InterruptCase& c = GetParam();
    TempDir dir;
    Request r;
    r.type = c.type;
    r.input = dir.write_text("in.txt", c.text);
    r.index = dir.write_text("out.idx", "previous content");
    r.key_token = "ID";
    r.entry_delimiter = "//";
    hxhost::CallOptions options;
    options.interrupt_at = c.poll_k;
    auto result = run(r, 2, options);
    EXPECT_HX_ERROR(result, "helixo:flatmark:IterruptedByUser", "Operation terminated by user.");
    EXPECT_EQ(result.polls.handle, c.poll_k);
    std::string expected(512, '\0');
    for (const std::string& key : c.keys_before)
        expected += key + "\n";
    EXPECT_EQ(testkit::read_file(r.index), expected);
}

const std::string kFasta = ">a\nAC\n>b\nGT\n>c\nT\n";
const std::string kFastq = "@r1\nA\n+\nI\n@r2\nC\n+\n@\n@r3\nG\n+\nI\n";
const std::string kTable = "k1\t1\nk2\t2\nk3\t3\n";
const std::string kMrtab = "a\t1\na\t2\nb\t3\nc\t4\n";
const std::string kFlat = "ID a\n//\nID b\n//\nID c\n";

const InterruptCase kCases[] = {
    {"FastaFirstLine", "fasta", kFasta, 1, {}},
    {"FastaAfterOneHeader", "fasta", kFasta, 3, {"a"}},
    {"FastaAfterTwoHeaders", "fasta", kFasta, 4, {"a", "b"}},
    {"FastaLastLine", "fasta", kFasta, 6, {"a", "b", "c"}},
    {"FastqFirstRecord", "fastq", kFastq, 1, {}},
    {"FastqSecondRecord", "fastq", kFastq, 2, {"r1"}},
    {"FastqThirdRecord", "fastq", kFastq, 3, {"r1", "r2"}},
    {"TableSecondLine", "table", kTable, 2, {"k1"}},
    {"TableThirdLine", "table", kTable, 3, {"k1", "k2"}},
    {"MrtabInsideARun", "mrtab", kMrtab, 2, {"a"}},
    {"MrtabAfterTwoRuns", "mrtab", kMrtab, 4, {"a", "b"}},
    {"FlatBeforeAnyEntryCloses", "flat", kFlat, 3, {}},
    {"FlatAfterTheFirstEntryCloses", "flat", kFlat, 4, {"a"}},
    {"FlatLastLine", "flat", kFlat, 5, {"a"}},
};

INSTANTIATE_TEST_SUITE_P(Flatmark, StopRequest, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(StopRequestLate, AfterTheLastPollChangesNothing) {
    TempDir dir;
    Request r;
    r.input = dir.write_text("in.fa", kFasta);
    r.index = dir.file("out.idx");
    hxhost::CallOptions options;
    options.interrupt_at = 7; // six lines are polled
    auto result = run(r, 2, options);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.polls.handle, 6);
    EXPECT_EQ(read_index(r.index).offsets, (std::vector<std::uint64_t>{0, 6, 12, 17}));
}

TEST(StopRequestWide, SixtyFourBitInstanceStopsTheSameWay) {
    TempDir dir;
    Request r;
    r.input = dir.write_text("in.fa", kFasta);
    r.index = dir.file("out.idx");
    r.wide = 1;
    hxhost::CallOptions options;
    options.interrupt_at = 3;
    EXPECT_HX_ERROR(run(r, 0, options), "helixo:flatmark:IterruptedByUser",
                    "Operation terminated by user.");
    EXPECT_EQ(testkit::read_file(r.index), std::string(512, '\0') + "a\n");
}

} // namespace
