// indexbamfile's order check and its ways out. The library's index builder is asked only for a
// file in the order it demands (it would otherwise give up and leak what it built), so every
// order the builder refuses is refused first (samtools' own indexer, which only wants each
// reference's records together, refuses all of them but references out of order);
// and every way out of a call that created the part file beside the index removes it again.
#include "bamkit.h"
#include "error_order.h"
#include "peers.h"

#include <dirent.h>
#include <sys/resource.h>

#include <csignal>
#include <set>
#include <string>
#include <vector>

using namespace testkit;

namespace {

struct Placement {
    const char* reference; // "*" for none
    int position;          // 1-based, 0 for none
    int flag;
};

// An order the library's builder takes.
struct OrderCase {
    const char* label;
    std::vector<Placement> records;
};

// An order the builder refuses, and whether samtools' indexer takes it (it allows references
// out of order).
struct RefusedOrder {
    const char* label;
    std::vector<Placement> records;
    bool samtools_accepts;
};

std::string sam_of(const std::vector<Placement>& records) {
    std::string text = bamkit::sam_header({{"chr1", 100000}, {"chr2", 100000}, {"chr3", 100000}});
    int k = 0;
    for (const Placement& p : records) {
        text += "r" + std::to_string(k++) + "\t" + std::to_string(p.flag) + "\t" + p.reference +
                "\t" + std::to_string(p.position) + "\t" + (p.flag & 4 ? "0\t*" : "30\t10M") +
                "\t*\t0\t0\tACGTACGTAC\tIIIIIIIIII\n";
    }
    return text;
}

// Whether samtools' own indexer takes the BAM file (its index written to the given path).
bool samtools_indexes(const std::string& bam, const std::string& index) {
    int status = 0;
    run_command("samtools index " + peers::quoted(bam) + " " + peers::quoted(index) +
                    " 2>/dev/null",
                &status);
    return status == 0;
}

class IndexOrder : public ::testing::TestWithParam<OrderCase> {
protected:
    TempDir dir;
};

TEST_P(IndexOrder, IsIndexedAsSamtoolsIndexesItLeavingOnlyTheIndex) {
    const OrderCase& c = GetParam();
    const std::string bam = bamkit::make_bam(dir, "in", sam_of(c.records), false);
    const std::string theirs = dir.file("theirs.bai");
    ASSERT_TRUE(samtools_indexes(bam, theirs));

    const auto before = entries_of(dir.path());
    const std::string ours = dir.file("ours.bai");
    const auto result = call("alignport", 0, args("indexbamfile", bam, ours));
    ASSERT_TRUE(result.ok) << result.identifier << ": " << result.message;
    auto after = entries_of(dir.path());
    after.erase("ours.bai");
    EXPECT_EQ(after, before);
    for (const char* region : {"chr1", "chr2", "chr3", "chr1:150-400"}) {
        SCOPED_TRACE(region);
        EXPECT_EQ(peers::run("samtools view -c -X " + peers::quoted(bam) + " " +
                             peers::quoted(ours) + " " + region),
                  peers::run("samtools view -c -X " + peers::quoted(bam) + " " +
                             peers::quoted(theirs) + " " + region));
    }
}

const OrderCase kOrders[] = {
    {"AscendingWithTies", {{"chr1", 100, 0}, {"chr1", 100, 16}, {"chr1", 300, 0}, {"chr2", 5, 0}}},
    {"ReferencesSkipped", {{"chr1", 100, 0}, {"chr3", 7, 0}, {"chr3", 9, 0}}},
    {"UnplacedAtTheEnd", {{"chr1", 100, 0}, {"chr2", 50, 0}, {"*", 0, 4}, {"*", 0, 4}}},
    {"OnlyUnplaced", {{"*", 0, 4}, {"*", 0, 4}}},
    {"UnmappedMateAtItsMatesPosition", {{"chr1", 100, 0}, {"chr1", 100, 4}, {"chr1", 200, 0}}},
};

INSTANTIATE_TEST_SUITE_P(Table, IndexOrder, ::testing::ValuesIn(kOrders),
                         [](const ::testing::TestParamInfo<OrderCase>& p) {
                             return std::string(p.param.label);
                         });

const RefusedOrder kRefusedOrders[] = {
    // baminfo's rule does not compare the first record of a reference with the second; the
    // index builder does.
    {"SecondBeforeFirstOfAReference", {{"chr1", 300, 0}, {"chr1", 100, 0}}, false},
    {"ThirdBeforeSecond", {{"chr1", 100, 0}, {"chr1", 300, 0}, {"chr1", 200, 0}}, false},
    {"BackInTheSecondReference", {{"chr1", 100, 0}, {"chr2", 500, 0}, {"chr2", 400, 0}}, false},
    {"ReferenceGoesBack", {{"chr2", 100, 0}, {"chr1", 200, 0}}, true},
    {"PlacedAfterUnplaced", {{"chr1", 100, 0}, {"*", 0, 4}, {"chr2", 5, 0}}, false},
    {"UnplacedFirst", {{"*", 0, 4}, {"chr1", 5, 0}}, false},
};

// Every order the builder refuses raises CannotBuildIndex, and the call leaves the folder as it
// found it: no index, no part file. samtools' indexer refuses them too, all but the one with
// references out of order.
TEST(RefusedIndexOrder, GivesCannotBuildIndexAndLeavesTheFolderAsItWas) {
    TempDir dir;
    std::vector<ErrorRow> rows;
    for (const RefusedOrder& c : kRefusedOrders) {
        const std::string bam = bamkit::make_bam(dir, c.label, sam_of(c.records), false);
        EXPECT_EQ(samtools_indexes(bam, dir.file(std::string(c.label) + ".theirs.bai")),
                  c.samtools_accepts)
            << c.label;
        rows.push_back(error_row(c.label, 0, args("indexbamfile", bam, dir.file("ours.bai")),
                                 "helixo:alignport:indexbamfile:CannotBuildIndex",
                                 "indexbamfile: Could not build the BAI index; is the BAM file "
                                 "sorted by coordinate?"));
    }
    std::set<std::string> before_call;
    const RowChecks folder_unchanged = {
        [&] { before_call = entries_of(dir.path()); },
        [&](const hxhost::CallResult&) { EXPECT_EQ(entries_of(dir.path()), before_call); }};
    expect_errors_in_order("alignport", rows, folder_unchanged);
}

// --- the part file on every way out ---

class PartFile : public ::testing::Test {
protected:
    TempDir dir;
    std::string sorted = bamkit::make_bam(dir, "sorted", bamkit::generated_sam(3, 2, 400), false);
};

// With a file size limit the library's writes of the index fall short; the call then finds the
// index unreadable and reports it.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit lowered = previous_;
        lowered.rlim_cur = bytes;
        set_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previous_handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool set() const { return set_; }

private:
    rlimit previous_{};
    void (*previous_handler_)(int) = SIG_DFL;
    bool set_ = false;
};

TEST_F(PartFile, IsRemovedWhenTheLibraryWritesAShortIndex) {
    const auto before = entries_of(dir.path());
    hxhost::CallResult result;
    {
        FileSizeLimit limit(64);
        ASSERT_TRUE(limit.set());
        result = call("alignport", 0, args("indexbamfile", sorted, dir.file("short.bai")));
    }
    EXPECT_HX_ERROR(result, "helixo:alignport:CannotWriteBAMFile",
                    "Cannot write into output file.");
    EXPECT_EQ(entries_of(dir.path()), before);
}

TEST_F(PartFile, IsRemovedAndAnExistingIndexKeptWhenARecordIsOutOfOrder) {
    // An existing index of that name stays as it was, and no part file stays beside it.
    const std::string keep = dir.write_text("keep.bai", "old index");
    const std::string unsorted =
        bamkit::make_bam(dir, "unsorted", sam_of({{"chr1", 300, 0}, {"chr1", 100, 0}}), false);
    const auto before = entries_of(dir.path());
    EXPECT_FALSE(call("alignport", 0, args("indexbamfile", unsorted, keep)).ok);
    EXPECT_EQ(entries_of(dir.path()), before);
    EXPECT_EQ(read_file(keep), "old index");
}

// indexbamfile does not poll for a stop request (the build runs to its end once begun), so a
// stop request due at the first poll neither ends the call nor leaves anything behind.
TEST_F(PartFile, AStopRequestNeitherEndsTheBuildNorLeavesAPart) {
    const auto before = entries_of(dir.path());
    hxhost::CallOptions options;
    options.interrupt_at = 1;
    const auto result =
        call("alignport", 0, args("indexbamfile", sorted, dir.file("i.bai")), options);
    ASSERT_TRUE(result.ok) << result.identifier << ": " << result.message;
    EXPECT_EQ(result.polls.is_pending + result.polls.handle, 0);
    auto after = entries_of(dir.path());
    EXPECT_EQ(after.erase("i.bai"), 1u);
    EXPECT_EQ(after, before);
    EXPECT_EQ(peers::run("samtools view -c -X " + peers::quoted(sorted) + " " +
                         peers::quoted(dir.file("i.bai")) + " chr2"),
              "400\n");
}

} // namespace
