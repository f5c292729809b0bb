// flatmark on long-read files as a user has them: minimap2's SAM text (lines of up to half a
// megabyte) indexed as a "table", the reads as FASTQ and as one-line FASTA. Entries, keys,
// offsets and line counts are those of a plain scan of the same text.
#include "indexkit.h"
#include "long_reads.h"

using namespace indexkit;
using testkit::TempDir;

namespace {

// Reads of 1 to 200 kb on references of 250 and 220 kb.
const longreads::Shape kShape{{250000, 220000}, {1000, 200000, 5000, 70000, 20000, 120000}, 12};

struct Expected {
    std::vector<std::string> keys;
    std::vector<std::uint64_t> offsets; // entry starts, then the end of the last entry
    std::size_t lines = 0;
};

// Every line not beginning with "@" is an entry keyed by its first field.
Expected scan_sam(const std::string& text) {
    Expected e;
    for (std::uint64_t at : line_starts(text)) {
        ++e.lines;
        if (text[at] == '@')
            continue;
        e.keys.push_back(text.substr(at, text.find('\t', at) - at));
        e.offsets.push_back(at);
    }
    e.offsets.push_back(text.size());
    return e;
}

// Records of lines records at a time (FASTQ 4, one-line FASTA 2), keyed by their name.
Expected scan_records(const std::string& text, std::size_t lines_per_record) {
    Expected e;
    const std::vector<std::uint64_t> starts = line_starts(text);
    for (std::size_t k = 0; k < starts.size(); k += lines_per_record) {
        e.keys.push_back(text.substr(starts[k] + 1, text.find('\n', starts[k]) - starts[k] - 1));
        e.offsets.push_back(starts[k]);
    }
    e.offsets.push_back(text.size());
    e.lines = starts.size();
    return e;
}

class LongReadFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        available_ = longreads::minimap2_available();
        dir_ = new TempDir();
        corpus_ = new longreads::Corpus(longreads::simulate(2026, kShape));
        dir_->write_text("ref.fa", corpus_->reference_fasta);
        dir_->write_text("reads.fq", corpus_->reads_fastq);
        if (available_)
            for (bool eqx : {false, true})
                available_ = longreads::align(dir_->file("ref.fa"), dir_->file("reads.fq"), eqx,
                                              dir_->file(eqx ? "eqx.sam" : "plain.sam")) &&
                             available_;
    }
    static void TearDownTestSuite() {
        delete corpus_;
        delete dir_;
    }

    static void expect_index(const std::string& type, const std::string& text,
                             const Expected& expected, const std::string& header_prefix = "") {
        TempDir work;
        Request r;
        r.type = type;
        r.input = work.write_text("in.txt", text);
        r.index = work.file("out.idx");
        r.header_prefix = header_prefix;
        auto result = run(r);
        ASSERT_TRUE(result.ok) << result.identifier << ": " << result.message;
        EXPECT_EQ(output(result, 0), static_cast<double>(expected.keys.size()));
        EXPECT_EQ(output(result, 1), static_cast<double>(expected.lines));
        const IndexFile f = read_index(r.index);
        EXPECT_EQ(f.keys, expected.keys);
        EXPECT_EQ(f.offsets, expected.offsets);
    }

    static TempDir* dir_;
    static longreads::Corpus* corpus_;
    static bool available_;
};
TempDir* LongReadFiles::dir_ = nullptr;
longreads::Corpus* LongReadFiles::corpus_ = nullptr;
bool LongReadFiles::available_ = false;

TEST_F(LongReadFiles, SamTextIsOneTableEntryPerAlignmentLine) {
    if (!available_)
        SKIP_OR_FAIL_WITHOUT_PEER("minimap2 cannot be run");
    for (const char* name : {"plain.sam", "eqx.sam"}) {
        SCOPED_TRACE(name);
        const std::string text = testkit::read_file(dir_->file(name));
        std::size_t longest = 0;
        for (std::size_t at = 0, next; at < text.size(); at = next + 1) {
            next = text.find('\n', at);
            longest = std::max(longest, next - at);
        }
        ASSERT_GT(longest, std::size_t{1} << 18) << "a line longer than the reader's block";
        expect_index("table", text, scan_sam(text), "@");
    }
}

TEST_F(LongReadFiles, ReadsAreOneEntryEachAsFastqAndAsFasta) {
    expect_index("fastq", corpus_->reads_fastq, scan_records(corpus_->reads_fastq, 4));
    const std::string fasta = longreads::reads_fasta(*corpus_);
    expect_index("fasta", fasta, scan_records(fasta, 2));
}

} // namespace
