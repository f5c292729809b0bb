// A user's stop request, a full disk and an unreadable input end the call; the index file is
// then cut back to the size it had before the call.
#include "traitmark_kit.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

using namespace testkit;
using tmkit::line_starts;

namespace {

// Enough entries that their values pass through the writer's and the stream's buffers into
// the file long before the last entry.
std::string many_lines(int count) {
    std::string text;
    for (int k = 0; k < count; ++k)
        text += "r" + std::to_string(k % 977) + "\t" + (k % 3 ? "99" : "147") + "\tchr" +
                std::to_string(k % 5) + "\t" + std::to_string(1000 + k) + "\t60\t50M\t=\t" +
                std::to_string(5000 + k) + "\n";
    return text;
}

const int kEntries = 30000;

struct InterruptCase {
    const char* feature;
    long poll;
};

void PrintTo(const InterruptCase& c, std::ostream* os) {
    *os << c.feature << " at " << c.poll;
}

class InterruptAtPoll : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(InterruptAtPoll, LeavesTheIndexFileByteIdentical) {
    static const std::string text = many_lines(kEntries);
    static const std::vector<std::uint64_t> starts = line_starts(text);
    const InterruptCase& c = GetParam();
    for (bool wide : {false, true}) {
        TempDir dir;
        hxhost::CallOptions options;
        options.interrupt_at = c.poll;
        const auto out = tmkit::run_feature(dir, "sam", c.feature, text, starts, wide, -1, options);
        EXPECT_HX_ERROR(out.result, "helixo:traitmark:IterruptedByUser",
                        "Operation terminated by user.");
        EXPECT_TRUE(out.prefix_kept);
        EXPECT_EQ(out.block.size(), 0u) << "values of the entries before the stop are gone";
        EXPECT_EQ(out.result.polls.handle, c.poll) << "one poll an entry, before the entry";
        EXPECT_FALSE(hxhost::interrupt_pending()) << "the request was serviced";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Traitmark, InterruptAtPoll,
    ::testing::Values(InterruptCase{"Position", 1}, InterruptCase{"Position", 2},
                      InterruptCase{"Position", 1000}, InterruptCase{"Position", 25000},
                      InterruptCase{"Position", kEntries}, InterruptCase{"Flag", 29000},
                      InterruptCase{"MateIndex", 20000}, InterruptCase{"Reference", 29999},
                      InterruptCase{"EndPosition", 17}));

TEST(Interrupt, ARequestAfterTheLastPollIsNotSeen) {
    const std::string text = many_lines(10);
    TempDir dir;
    hxhost::CallOptions options;
    options.interrupt_at = 11;
    const auto out =
        tmkit::run_feature(dir, "sam", "Flag", text, line_starts(text), false, -1, options);
    EXPECT_TRUE(out.result.ok) << out.result.message;
    EXPECT_EQ(out.block.size(), 20u);
    EXPECT_EQ(out.result.polls.handle, 10);
}

TEST(Interrupt, FastaLengthIsCutBackToo) {
    std::string text;
    for (int k = 0; k < 40000; ++k)
        text += ">s" + std::to_string(k) + "\nACGT\n";
    auto offsets = tmkit::starts_of_lines_beginning(text, ">");
    offsets.push_back(text.size());
    TempDir dir;
    hxhost::CallOptions options;
    options.interrupt_at = 39000;
    const auto out = tmkit::run_feature(dir, "fasta", "Length", text, offsets, true, -1, options);
    EXPECT_HX_ERROR(out.result, "helixo:traitmark:IterruptedByUser",
                    "Operation terminated by user.");
    EXPECT_TRUE(out.prefix_kept);
    EXPECT_EQ(out.block, "");
}

TEST(Interrupt, StillRaisedWhenTheIndexFileCannotBeCutBack) {
    // The device cannot be truncated: the call still ends with the user's interrupt.
    if (!file_exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    const std::string text = many_lines(5);
    const std::string input = dir.write_text("x.sam", text);
    hxhost::CallOptions options;
    options.interrupt_at = 3;
    const auto r =
        call("traitmark", 0,
             tmkit::call_inputs("sam", "Flag", input, "/dev/full", 5, line_starts(text), false),
             options);
    EXPECT_HX_ERROR(r, "helixo:traitmark:IterruptedByUser", "Operation terminated by user.");
}

TEST(WriteFailure, AFullDiskIsReportedNotSwallowed) {
    if (!file_exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    const std::string text = many_lines(5);
    const std::string input = dir.write_text("x.sam", text);
    for (const char* feature : {"Flag", "MateIndex"}) {
        const auto r = call(
            "traitmark", 0,
            tmkit::call_inputs("sam", feature, input, "/dev/full", 5, line_starts(text), false));
        EXPECT_HX_ERROR(r, "helixo:traitmark:CannotWriteIdxFile",
                        "Cannot write into output index file.");
    }
}

// Lowers the largest file size this process may write, so that appending fails part way.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit lowered = previous_;
        lowered.rlim_cur = bytes;
        active_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previous_handler_);
    }
    bool active() const { return active_; }

private:
    rlimit previous_{};
    void (*previous_handler_)(int) = nullptr;
    bool active_ = false;
};

TEST(WriteFailure, AFailedWriteCutsTheIndexFileBack) {
    static const std::string text = many_lines(kEntries);
    TempDir dir;
    const std::string input = dir.write_text("x.sam", text);
    const std::string prefix(1000, 'p');
    for (const char* feature : {"Position", "MateIndex"}) {
        const std::string index = dir.write_text("x.idx", prefix);
        hxhost::CallResult r;
        {
            FileSizeLimit limit(100000); // room for part of the 120,000 bytes
            if (!limit.active())
                GTEST_SKIP() << "cannot lower the file size limit";
            r = call("traitmark", 0,
                     tmkit::call_inputs("sam", feature, input, index, kEntries, line_starts(text),
                                        false));
        }
        EXPECT_HX_ERROR(r, "helixo:traitmark:CannotWriteIdxFile",
                        "Cannot write into output index file.");
        EXPECT_EQ(read_file(index), prefix) << feature;
    }
}

TEST(ReadFailure, AnInputThatCannotBeReadIsReportedWithTheEntry) {
    TempDir dir;
    const std::string folder = dir.file("folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string index = dir.write_text("x.idx", "before");
    auto r = call("traitmark", 0, tmkit::call_inputs("sam", "Flag", folder, index, 1, {0}, false));
    if (r.ok)
        GTEST_SKIP() << "this platform reads folders as files";
    EXPECT_HX_ERROR(r, "helixo:traitmark:CannotReadInFile",
                    "Could not read input file at entry 1.");
    EXPECT_EQ(read_file(index), "before");
    r = call("traitmark", 0, tmkit::call_inputs("sam", "Flag", folder, index, 0, {}, false));
    EXPECT_TRUE(r.ok) << "nothing is read for no entries";
}

TEST(OffsetWidths, ThirtyTwoAndSixtyFourBitInstancesWriteIdenticalBlocks) {
    const std::string sam = tmkit::paired_sam(99, 800);
    const auto starts = tmkit::alignment_starts(sam);
    for (const char* feature : {"Flag", "Position", "MappingQuality", "MatePosition", "MateIndex",
                                "QueryLength", "EndPosition", "Reference"}) {
        TempDir dir;
        const auto narrow = tmkit::run_feature(dir, "sam", feature, sam, starts, false);
        const auto wide = tmkit::run_feature(dir, "sam", feature, sam, starts, true);
        ASSERT_TRUE(narrow.result.ok && wide.result.ok) << feature;
        EXPECT_EQ(narrow.block.size(), starts.size() * tmkit::width_of(feature));
        EXPECT_EQ(narrow.block, wide.block) << feature;
    }
}

TEST(IndexFile, EachCallAppendsItsBlockAfterWhatIsThere) {
    const std::string text = many_lines(4);
    TempDir dir;
    const std::string input = dir.write_text("x.sam", text);
    const std::string index = dir.write_text("x.idx", "");
    const auto starts = line_starts(text);
    ASSERT_TRUE(
        call("traitmark", 0, tmkit::call_inputs("sam", "Flag", input, index, 4, starts, false)).ok);
    ASSERT_TRUE(
        call("traitmark", 0,
             tmkit::call_inputs("sam", "MappingQuality", input, index, 2, starts, true, "char"))
            .ok);
    EXPECT_EQ(read_file(index), std::string("\x93\x00\x63\x00\x63\x00\x93\x00\x3c\x3c", 10));
}

} // namespace
