// Long reads as an aligner writes them: a seeded simulator makes two references and reads of 1
// to 40 kb (substitutions, insertions, deletions, reverse strands, a chimera joining both
// references, a read that maps nowhere), minimap2 aligns them with and without --eqx, and
// samtools sorts and indexes the result. Every span, end, CIGAR text and containment decision
// is then checked against pysam and samtools.
#include "bamkit.h"
#include "peers.h"
#include "pysam_peer.h"

#include <algorithm>
#include <random>

using namespace testkit;

namespace {

std::string random_bases(std::mt19937& rng, std::size_t n) {
    static const char kBases[] = "ACGT";
    std::string s(n, 'A');
    for (char& c : s)
        c = kBases[rng() % 4];
    return s;
}

std::string reverse_complement(const std::string& s) {
    std::string r(s.rbegin(), s.rend());
    for (char& c : r)
        c = c == 'A' ? 'T' : c == 'C' ? 'G' : c == 'G' ? 'C' : 'A';
    return r;
}

// About 4% substitutions, 2% deletions and 2% insertions, as long-read errors go.
std::string with_errors(std::mt19937& rng, const std::string& s) {
    static const char kBases[] = "ACGT";
    std::string out;
    out.reserve(s.size() + s.size() / 20);
    for (char c : s) {
        const unsigned roll = rng() % 100;
        if (roll < 4)
            out.push_back(kBases[(std::string("ACGT").find(c) + 1 + rng() % 3) % 4]);
        else if (roll < 6)
            continue;
        else if (roll < 8)
            out += std::string(1, kBases[rng() % 4]) + c;
        else
            out.push_back(c);
    }
    return out;
}

struct Corpus {
    std::string referenceFasta;
    std::string readsFastq;
};

Corpus simulate(unsigned seed) {
    std::mt19937 rng(seed);
    const std::string refs[2] = {random_bases(rng, 120000), random_bases(rng, 90000)};
    Corpus c;
    c.referenceFasta = ">chrA\n" + refs[0] + "\n>chrB\n" + refs[1] + "\n";
    const std::size_t lengths[] = {1000, 2500, 5000, 8000, 12000, 20000, 30000, 40000};
    int n = 0;
    auto add_read = [&](const std::string& bases) {
        const char quality = static_cast<char>('!' + 5 + n % 30);
        c.readsFastq += "@read" + std::to_string(n) + "\n" + bases + "\n+\n" +
                        std::string(bases.size(), quality) + "\n";
        ++n;
    };
    for (int k = 0; k < 24; ++k) {
        const std::string& ref = refs[k % 2];
        const std::size_t length = std::min(lengths[k % 8], ref.size() - 1);
        const std::size_t start = rng() % (ref.size() - length);
        std::string read = with_errors(rng, ref.substr(start, length));
        add_read(k % 3 == 1 ? reverse_complement(read) : read);
    }
    // A chimera joining the two references, and a read that maps nowhere.
    add_read(with_errors(rng, refs[0].substr(5000, 6000)) + with_errors(rng, refs[1].substr(40000, 7000)));
    add_read(random_bases(rng, 3000));
    return c;
}

class LongReads : public ::testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite() {
        int status = 0;
        testkit::run_command("minimap2 --version", &status);
        available_ = status == 0;
        if (!available_)
            return;
        dir_ = new TempDir();
        const Corpus corpus = simulate(16);
        const std::string ref = dir_->write_text("ref.fa", corpus.referenceFasta);
        const std::string reads = dir_->write_text("reads.fq", corpus.readsFastq);
        for (const bool eqx : {false, true}) {
            const std::string stem = dir_->file(eqx ? "eqx" : "plain");
            peers::run("minimap2 -t 1 -ax map-ont " + std::string(eqx ? "--eqx " : "") +
                       peers::quoted(ref) + " " + peers::quoted(reads) + " 2>/dev/null > " +
                       peers::quoted(stem + ".sam") + " && samtools sort -o " +
                       peers::quoted(stem + ".bam") + " " + peers::quoted(stem + ".sam") +
                       " 2>/dev/null && samtools index " + peers::quoted(stem + ".bam"));
        }
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!available_)
            SKIP_OR_FAIL_WITHOUT_PEER("minimap2 cannot be run");
    }
    std::string bam() const { return dir_->file(GetParam() ? "eqx.bam" : "plain.bam"); }

    static TempDir* dir_;
    static bool available_;
};
TempDir* LongReads::dir_ = nullptr;
bool LongReads::available_ = false;

TEST_P(LongReads, StartsEndsAndFlagsAgreeWithPysam) {
    std::size_t eqxCigars = 0;
    for (int ref : {0, 1}) {
        const auto expected = peer::pysam_fetch(*dir_, bam(), ref);
        ASSERT_GE(expected.size(), 10u) << "reference " << ref;
        for (const auto& a : expected)
            eqxCigars += a.cigar.find('=') != std::string::npos;
        auto r = call("alignport", 3, args("getstartsinref", bam(), bam() + ".bai", ref));
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(hxhost::values_of<std::uint32_t>(r.outputs[0].get()),
                  peer::column(expected, [](const peer::PeerAlignment& a) { return a.position; }));
        EXPECT_EQ(hxhost::values_of<std::uint32_t>(r.outputs[1].get()),
                  peer::column(expected, [](const peer::PeerAlignment& a) { return a.endPosition; }));
        std::vector<std::uint16_t> flags;
        for (const auto& a : expected)
            flags.push_back(static_cast<std::uint16_t>(a.flag));
        EXPECT_EQ(hxhost::values_of<std::uint16_t>(r.outputs[2].get()), flags);
    }
    // The --eqx file writes its matches as = and X, the other as M.
    if (GetParam())
        EXPECT_GT(eqxCigars, 20u);
    else
        EXPECT_EQ(eqxCigars, 0u);
}

TEST_P(LongReads, SignatureQueryLengthAndEndPositionAgreeWithPysam) {
    for (int ref : {0, 1}) {
        const auto expected = peer::pysam_fetch(*dir_, bam(), ref);
        auto starts = call("alignport", 1, args("getstartsinref", bam(), bam() + ".bai", ref));
        ASSERT_TRUE(starts.ok) << starts.message;
        std::vector<std::int32_t> zeroBased;
        for (std::uint32_t s : hxhost::values_of<std::uint32_t>(starts.outputs[0].get()))
            zeroBased.push_back(static_cast<std::int32_t>(s) - 1);
        std::vector<std::uint32_t> all(expected.size());
        for (std::size_t k = 0; k < all.size(); ++k)
            all[k] = static_cast<std::uint32_t>(k + 1);
        auto r = call("alignport", 3,
                      args("getfeaturesinrefbyindex", bam(), bam() + ".bai",
                           cell_of({"Signature", "QueryLength", "EndPosition"}), ref, u32(all),
                           i32(zeroBased)));
        ASSERT_TRUE(r.ok) << r.identifier << " " << r.message;
        for (std::size_t k = 0; k < expected.size(); ++k)
            EXPECT_EQ(hxhost::text_of(haGetCell(r.outputs[0].get(), k)), expected[k].cigar) << k;
        std::vector<std::uint16_t> lengths;
        for (const auto& a : expected)
            lengths.push_back(static_cast<std::uint16_t>(a.queryLength));
        EXPECT_EQ(hxhost::values_of<std::uint16_t>(r.outputs[1].get()), lengths);
        EXPECT_EQ(hxhost::values_of<std::uint32_t>(r.outputs[2].get()),
                  peer::column(expected, [](const peer::PeerAlignment& a) { return a.endPosition; }));
    }
}

TEST_P(LongReads, ContainedRegionLinesAreSamtoolsLinesWhollyInside) {
    const std::string out = dir_->file(GetParam() ? "eqx.region.sam" : "plain.region.sam");
    const char* region = "chrA:20001-80000";
    auto r = call("alignport", 0, args("writesambyregion", bam(), bam() + ".bai", out, region, 1, 1));
    ASSERT_TRUE(r.ok) << r.message;
    std::string expected;
    std::size_t left = 0;
    for (const std::string& line : peers::lines_of(peers::samtools_view(bam(), region))) {
        const std::vector<std::string> cols = peers::split(line, '\t');
        const long pos = std::stol(cols[3]) - 1;
        if (pos < 20000 || pos + peers::cigar_span(cols[5]) > 80000) {
            ++left;
            continue;
        }
        expected += line + "\n";
    }
    EXPECT_GT(left, 0u) << "some alignments reach out of the region";
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(read_file(out), expected);
}

INSTANTIATE_TEST_SUITE_P(Minimap2, LongReads, ::testing::Bool(),
                         [](const auto& p) { return std::string(p.param ? "Eqx" : "Plain"); });

} // namespace
