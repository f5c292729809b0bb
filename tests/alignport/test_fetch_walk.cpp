// The region walk with early stop, called directly: it must deliver what the library's
// bam_fetch delivers, stop at once on a negative callback result, and tell a damaged file apart.
#include "bam_layer.h"
#include "bamkit.h"
#include "damaged_bam.h"

#include <string>
#include <vector>

using namespace testkit;

namespace {

struct Collected {
    std::vector<std::string> names;
    int stop_at = 0; // return -1 on this call (1-based); 0: never
};

int collect(const bam1_t* b, void* data) {
    auto& c = *static_cast<Collected*>(data);
    c.names.push_back(bam1_qname(b));
    return static_cast<int>(c.names.size()) == c.stop_at ? -1 : 0;
}

// chrA: reads with zero-span CIGARs at 150 and at 0, a long read reaching from 100 to 180,
// ties at 150; chrB empty.
std::string walk_sam() {
    return bamkit::sam_header({{"chrA", 2000}, {"chrB", 2000}}) +
           "a0\t0\tchrA\t1\t30\t4S\t*\t0\t0\tACGT\t*\n"
           "a1\t0\tchrA\t101\t30\t81M\t*\t0\t0\t" +
           std::string(81, 'A') +
           "\t*\n"
           "a2\t0\tchrA\t151\t30\t5S\t*\t0\t0\tACGTA\t*\n"
           "a3\t0\tchrA\t151\t30\t10M\t*\t0\t0\tACGTACGTAC\t*\n"
           "a4\t4\tchrA\t161\t0\t*\t*\t0\t0\tACGT\t*\n"
           "a5\t0\tchrA\t301\t30\t3M2D3M\t*\t0\t0\tACGTAC\t*\n";
}

class Walk : public ::testing::Test {
protected:
    TempDir dir;
    std::string bam = bamkit::make_bam(dir, "walk", walk_sam());
    alignport::SamFilePtr file = alignport::open_bam(bam.c_str());
    alignport::IndexPtr index{bam_index_load(bam.c_str())};

    std::vector<std::string> library(int tid, int beg, int end) {
        Collected c;
        bam_fetch(file->x.bam, index.get(), tid, beg, end, &c, collect);
        return c.names;
    }
};

struct Region {
    int tid, beg, end;
};

TEST_F(Walk, DeliversWhatTheLibraryDeliversInTheSameOrder) {
    ASSERT_TRUE(file && index);
    const Region regions[] = {{0, 0, 1 << 29}, {0, 149, 301}, {0, 150, 301},   {0, 160, 161},
                              {0, 0, 1},       {0, 299, 300}, {0, 1000, 2000}, {1, 0, 1 << 29}};
    for (const Region& r : regions) {
        Collected c;
        const int result = zrbam_fetch(file->x.bam, index.get(), r.tid, r.beg, r.end, &c, collect);
        EXPECT_GE(result, 0);
        EXPECT_EQ(c.names, library(r.tid, r.beg, r.end)) << r.tid << ":" << r.beg << "-" << r.end;
    }
}

TEST_F(Walk, ZeroSpanAlignmentsReachOnlyWindowsThatBeginBeforeThem) {
    Collected at, before;
    zrbam_fetch(file->x.bam, index.get(), 0, 150, 151, &at, collect);
    zrbam_fetch(file->x.bam, index.get(), 0, 149, 151, &before, collect);
    EXPECT_EQ(at.names, (std::vector<std::string>{"a1", "a3"}));
    EXPECT_EQ(before.names, (std::vector<std::string>{"a1", "a2", "a3"}));
}

TEST_F(Walk, NegativeCallbackResultStopsAtOnce) {
    Collected c;
    c.stop_at = 3;
    const int result = zrbam_fetch(file->x.bam, index.get(), 0, 0, 1 << 29, &c, collect);
    EXPECT_EQ(result, alignport::kWalkStopped);
    EXPECT_EQ(c.names.size(), 3u); // no fourth call
}

TEST_F(Walk, PlainWalkIgnoresTheStop) {
    Collected c;
    c.stop_at = 3;
    const int result = plain_bam_fetch(file->x.bam, index.get(), 0, 0, 1 << 29, &c, collect);
    EXPECT_GE(result, 0);
    EXPECT_EQ(c.names, library(0, 0, 1 << 29));
}

TEST_F(Walk, RegionWithoutAlignmentsGivesNoCallback) {
    Collected c;
    EXPECT_GE(zrbam_fetch(file->x.bam, index.get(), 1, 0, 1 << 29, &c, collect), 0);
    EXPECT_GE(zrbam_fetch(file->x.bam, index.get(), 0, 1000, 2000, &c, collect), 0);
    EXPECT_TRUE(c.names.empty());
}

struct EmptyRegion {
    const char* label;
    int beg, end;
};

void PrintTo(const EmptyRegion& r, std::ostream* os) {
    *os << r.label;
}

class WalkOfEmptyRegion : public Walk, public ::testing::WithParamInterface<EmptyRegion> {};

// The library's own iterator would read on from wherever the file stands.
TEST_P(WalkOfEmptyRegion, DeliversNothingWhereverTheFileStands) {
    ASSERT_EQ(bam_seek(file->x.bam, 0, SEEK_SET), 0);
    bam_header_destroy(bam_header_read(file->x.bam)); // the file now stands at the first record
    Collected c;
    const int result =
        zrbam_fetch(file->x.bam, index.get(), 0, GetParam().beg, GetParam().end, &c, collect);
    EXPECT_GE(result, 0);
    EXPECT_TRUE(c.names.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, WalkOfEmptyRegion,
                         ::testing::Values(EmptyRegion{"EndBeforeBegin", 300, 150},
                                           EmptyRegion{"EndAtBegin", 150, 150},
                                           EmptyRegion{"NegativeBeginEndAtZero", -5, 0},
                                           EmptyRegion{"BothNegative", -9, -4}),
                         [](const auto& row) { return std::string(row.param.label); });

TEST(WalkOfTruncatedFile, ReportsTheReadErrorApartFromAStop) {
    TempDir dir;
    const std::string whole = bamkit::make_bam(dir, "whole", bamkit::generated_sam(11, 1, 6000));
    const std::string cut = damaged::truncated_copy(dir, whole, "cut", 0.6);
    alignport::SamFilePtr file = alignport::open_bam(cut.c_str());
    ASSERT_TRUE(file);
    alignport::IndexPtr index{bam_index_load(cut.c_str())};
    ASSERT_TRUE(index);
    Collected c;
    EXPECT_EQ(zrbam_fetch(file->x.bam, index.get(), 0, 0, 1 << 29, &c, collect),
              alignport::kWalkCorrupt);
    EXPECT_GT(c.names.size(), 1000u); // what came before the damage was delivered
    EXPECT_LT(c.names.size(), 6000u);
    Collected plain;
    EXPECT_EQ(plain_bam_fetch(file->x.bam, index.get(), 0, 0, 1 << 29, &plain, collect),
              alignport::kWalkCorrupt);
    EXPECT_EQ(plain.names, c.names);
}

} // namespace
