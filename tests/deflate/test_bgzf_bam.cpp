// BAM files written and read by the BAM library with libdeflate under its BGZF blocks: they read
// back record for record with samtools 1.16 and with the library, as the zlib-written ones do.
#include "bamkit.h"
#include "deflate_shim.h"

#include <samtools/bam.h>
#include <samtools/bgzf.h>
#include <samtools/sam.h>

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Output {
    int status = -1;
    std::string text;
};

Output run(const std::string& command) {
    Output out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.text.append(buffer, n);
    const int status = pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::string samtools(const std::string& args) {
    const Output out = run("samtools " + args + " 2>/dev/null");
    EXPECT_EQ(out.status, 0) << "samtools " << args;
    return out.text;
}

// The library's SAM text of each record, and the result that ended the read.
struct LibraryRead {
    std::vector<std::string> records;
    int last = 0;
};

LibraryRead read_with_library(const std::string& path) {
    LibraryRead read;
    samfile_t* in = samopen(path.c_str(), "rb", nullptr);
    EXPECT_NE(in, nullptr) << path;
    if (in == nullptr)
        return read;
    bam1_t* b = bam_init1();
    while ((read.last = samread(in, b)) >= 0) {
        char* line = bam_format1(in->header, b);
        read.records.emplace_back(line);
        std::free(line);
    }
    bam_destroy1(b);
    samclose(in);
    return read;
}

// Writes the same BAM twice, with libdeflate and with zlib, for every test of the suite.
class LibdeflateBam : public ::testing::Test {
protected:
    static constexpr int kReferences = 3;
    static constexpr int kReadsPerReference = 4000;

    static void SetUpTestSuite() {
        dir_ = new testkit::TempDir();
        const std::string sam = bamkit::generated_sam(5, kReferences, kReadsPerReference, 100);
        const auto before = alignport::deflate_shim_counts();
        fast_ = bamkit::make_bam(*dir_, "fast", sam);
        const auto after = alignport::deflate_shim_counts();
        fast_blocks_ = after.fast_deflated_blocks - before.fast_deflated_blocks;
        zlib_blocks_with_shim_ = after.zlib_deflate_calls - before.zlib_deflate_calls;
        alignport::set_deflate_shim_enabled(false);
        zlib_ = bamkit::make_bam(*dir_, "zlib", sam);
        alignport::set_deflate_shim_enabled(true);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    static testkit::TempDir* dir_;
    static std::string fast_;
    static std::string zlib_;
    static unsigned long long fast_blocks_;
    static unsigned long long zlib_blocks_with_shim_;
};

testkit::TempDir* LibdeflateBam::dir_ = nullptr;
std::string LibdeflateBam::fast_;
std::string LibdeflateBam::zlib_;
unsigned long long LibdeflateBam::fast_blocks_ = 0;
unsigned long long LibdeflateBam::zlib_blocks_with_shim_ = 0;

TEST_F(LibdeflateBam, EveryBlockIsWrittenByLibdeflate) {
    // About 2.6 MB of records: dozens of blocks, and only the empty end-of-file block left to
    // zlib, so that the file ends in the standard marker.
    EXPECT_GE(fast_blocks_, 30u);
    EXPECT_EQ(zlib_blocks_with_shim_, 1u);
    EXPECT_NE(testkit::read_file(fast_), testkit::read_file(zlib_));
}

TEST_F(LibdeflateBam, SamtoolsReadsTheSameRecordsAsFromTheZlibFile) {
    const std::string fast = samtools("view --no-PG -h '" + fast_ + "'");
    EXPECT_EQ(fast, samtools("view --no-PG -h '" + zlib_ + "'"));
    EXPECT_EQ(samtools("view -c '" + fast_ + "'"),
              std::to_string(kReferences * kReadsPerReference) + "\n");
    EXPECT_EQ(run("samtools quickcheck '" + fast_ + "'").status, 0);
    static const unsigned char kEofMarker[28] = {0x1f, 0x8b, 8,    4,    0, 0, 0,    0, 0, 0xff,
                                                 6,    0,    0x42, 0x43, 2, 0, 0x1b, 0, 3, 0,
                                                 0,    0,    0,    0,    0, 0, 0,    0};
    const std::string bytes = testkit::read_file(fast_);
    ASSERT_GE(bytes.size(), 28u);
    EXPECT_EQ(bytes.substr(bytes.size() - 28),
              std::string(reinterpret_cast<const char*>(kEofMarker), 28));
}

TEST_F(LibdeflateBam, LibraryReadsTheSameRecordsWithEitherDecoder) {
    const auto before = alignport::deflate_shim_counts();
    const LibraryRead fast = read_with_library(fast_);
    EXPECT_GE(alignport::deflate_shim_counts().fast_inflated_blocks - before.fast_inflated_blocks,
              30u);
    alignport::set_deflate_shim_enabled(false);
    const LibraryRead fast_by_zlib = read_with_library(fast_);
    const LibraryRead zlib = read_with_library(zlib_);
    alignport::set_deflate_shim_enabled(true);
    EXPECT_EQ(fast.last, -1);
    EXPECT_EQ(fast.records.size(), static_cast<std::size_t>(kReferences * kReadsPerReference));
    EXPECT_TRUE(fast.records == zlib.records);
    EXPECT_TRUE(fast_by_zlib.records == zlib.records);
}

TEST_F(LibdeflateBam, SamtoolsMatchesTheLibrarysRecordText) {
    const LibraryRead fast = read_with_library(fast_);
    std::string text;
    for (const auto& record : fast.records)
        text += record + "\n";
    EXPECT_EQ(samtools("view '" + fast_ + "'"), text);
}

TEST_F(LibdeflateBam, IndexBuiltThroughLibdeflateAnswersRegionsAsTheZlibOne) {
    EXPECT_EQ(samtools("idxstats '" + fast_ + "'"), samtools("idxstats '" + zlib_ + "'"));
    for (const char* region : {"chr1:1000-40000", "chr2", "chr3:90000-95000"}) {
        const std::string fast = samtools("view '" + fast_ + "' " + region);
        EXPECT_FALSE(fast.empty()) << region;
        EXPECT_EQ(fast, samtools("view '" + zlib_ + "' " + region)) << region;
    }
}

TEST_F(LibdeflateBam, PluginStartsMatchSamtoolsPositions) {
    for (int ref = 0; ref < kReferences; ++ref) {
        const std::string lines = samtools("view '" + fast_ + "' chr" + std::to_string(ref + 1));
        std::vector<std::uint32_t> positions;
        for (std::size_t at = 0; at < lines.size(); at = lines.find('\n', at) + 1) {
            std::size_t field = at;
            for (int tab = 0; tab < 3; ++tab)
                field = lines.find('\t', field) + 1;
            positions.push_back(static_cast<std::uint32_t>(std::stoul(lines.substr(field))));
        }
        const auto r = testkit::call("alignport", 1,
                                     testkit::args("getstartsinref", fast_, fast_ + ".bai", ref));
        ASSERT_TRUE(r.ok) << r.identifier << " " << r.message;
        EXPECT_EQ(hxhost::values_of<std::uint32_t>(r.outputs[0].get()), positions);
        EXPECT_EQ(positions.size(), static_cast<std::size_t>(kReadsPerReference));
    }
}

TEST_F(LibdeflateBam, DamagedBlockIsAReadErrorWithEitherDecoder) {
    std::string bytes = testkit::read_file(fast_);
    // Second BGZF block: the first block's size is BSIZE (bytes 16..17) plus one. Its deflate
    // data starts after the 18-byte header; 0xff there is an invalid block type.
    const std::size_t second =
        (static_cast<unsigned char>(bytes[16]) | (static_cast<unsigned char>(bytes[17]) << 8)) + 1u;
    ASSERT_LT(second + 18, bytes.size());
    ASSERT_EQ(static_cast<unsigned char>(bytes[second]), 0x1f);
    bytes[second + 18] = static_cast<char>(0xff);
    const std::string damaged = dir_->write_text("damaged.bam", bytes);
    const LibraryRead fast = read_with_library(damaged);
    alignport::set_deflate_shim_enabled(false);
    const LibraryRead zlib = read_with_library(damaged);
    alignport::set_deflate_shim_enabled(true);
    EXPECT_LT(fast.last, -1);
    EXPECT_EQ(fast.last, zlib.last);
    EXPECT_TRUE(fast.records == zlib.records);
    EXPECT_LT(fast.records.size(), static_cast<std::size_t>(kReferences * kReadsPerReference));
}

TEST(LibdeflateBgzf, ThreadedLibraryWriterRoundTripsThroughZlib) {
    testkit::TempDir dir;
    const std::string path = dir.file("threaded.gz");
    std::string data;
    for (int k = 0; data.size() < 3000000; ++k)
        data += "line " + std::to_string(k * 7919 % 100003) + "\tACGTTGCA\n";
    const auto before = alignport::deflate_shim_counts();
    BGZF* out = bgzf_open(path.c_str(), "w");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(bgzf_mt(out, 2, 16), 0);
    ASSERT_EQ(bgzf_write(out, data.data(), static_cast<ssize_t>(data.size())),
              static_cast<ssize_t>(data.size()));
    ASSERT_EQ(bgzf_close(out), 0);
    EXPECT_GT(alignport::deflate_shim_counts().fast_deflated_blocks - before.fast_deflated_blocks,
              40u);

    alignport::set_deflate_shim_enabled(false);
    BGZF* in = bgzf_open(path.c_str(), "r");
    ASSERT_NE(in, nullptr);
    std::string back(data.size() + 1, '\0');
    const ssize_t n = bgzf_read(in, &back[0], static_cast<ssize_t>(back.size()));
    bgzf_close(in);
    alignport::set_deflate_shim_enabled(true);
    ASSERT_EQ(n, static_cast<ssize_t>(data.size()));
    back.resize(static_cast<std::size_t>(n));
    EXPECT_TRUE(back == data);
    EXPECT_EQ(run("gzip -dc '" + path + "'").text, data);
}

TEST(LibdeflatePlugin, ReadsAHeaderOfManyBlocksWrittenByLibdeflate) {
    testkit::TempDir dir;
    std::vector<std::pair<std::string, int>> refs;
    for (int k = 0; k < 12000; ++k)
        refs.emplace_back("contig_" + std::to_string(k * 7919 % 100000), 1000 + k);
    const std::string header = bamkit::sam_header(refs);
    ASSERT_GT(header.size(), 3u * 0x10000); // the header alone fills several blocks
    const auto before = alignport::deflate_shim_counts();
    const std::string bam = bamkit::make_bam(
        dir, "contigs", header + "r1\t0\tcontig_0\t10\t30\t5M\t*\t0\t0\tACGTA\tIIIII\n", false);
    EXPECT_GE(alignport::deflate_shim_counts().fast_deflated_blocks - before.fast_deflated_blocks,
              3u);
    const auto r = testkit::call("alignport", 1, testkit::args("getheader", bam));
    ASSERT_TRUE(r.ok) << r.identifier << " " << r.message;
    EXPECT_EQ(hxhost::text_of(r.outputs[0].get()), header);
}

// This suite is built only where the shim is, so the plug-in must carry it too.
TEST(LibdeflatePlugin, AlignportCallsLibdeflate) {
    const std::string undefined =
        run("nm -D --undefined-only '" + testkit::bin_dir() + "/alignport.so'").text;
    EXPECT_NE(undefined.find("libdeflate_deflate_decompress_ex"), std::string::npos);
    EXPECT_NE(undefined.find("libdeflate_deflate_compress"), std::string::npos);
}

} // namespace
