// The index check against the BAM it indexes: a BAI that reads as a BAI but names bins, chunks
// or linear-index entries the BAM cannot have is the missing-index error for every indexed
// service, with nothing printed, written or left behind; indexes built by the library, by
// indexbamfile and by samtools load as before and give the starts pysam reads.
#include "bamkit.h"
#include "peers.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>

using namespace testkit;

namespace {

constexpr std::uint32_t kMetaBin = 37450;
const char* const kMissing = "helixo:alignport:BAMIndexMissing";
const char* const kMissingText = "BAM indexing file (BAI) is not available or is corrupt.";

// chr1: reads from 100,000 on (so the library's linear index begins with empty windows) over
// several bins; chr2: no reads; chr3: reads from its start; two unplaced reads. The file spans
// several compressed blocks.
std::string validation_sam() {
    std::mt19937 rng(11);
    std::string sam = bamkit::sam_header({{"chr1", 300000}, {"chr2", 5000}, {"chr3", 200000}});
    const struct {
        const char* name;
        int first, step, count;
    } layout[] = {{"chr1", 100001, 397, 400}, {"chr3", 1, 251, 300}};
    for (const auto& ref : layout) {
        for (int k = 0; k < ref.count; ++k) {
            std::string seq;
            for (int j = 0; j < 40; ++j)
                seq.push_back("ACGT"[rng() % 4]);
            sam += std::string(ref.name) + "_" + std::to_string(k) + "\t" +
                   (rng() % 2 ? "16" : "0") + "\t" + ref.name + "\t" +
                   std::to_string(ref.first + ref.step * k) + "\t30\t40M\t*\t0\t0\t" + seq + "\t" +
                   std::string(40, 'I') + "\n";
        }
    }
    sam += "u1\t4\t*\t0\t0\t*\t*\t0\t0\tACGT\tIIII\nu2\t4\t*\t0\t0\t*\t*\t0\t0\tACGT\tIIII\n";
    return sam;
}

// Where each field of a BAI sits (byte offsets into the file), read by this test on its own.
struct ChunkAt {
    std::size_t at; // offset of the begin; the end follows
    std::uint64_t begin, end;
};
struct BinAt {
    std::size_t at; // offset of the bin number; the chunk count follows
    std::uint32_t number;
    std::vector<ChunkAt> chunks;
};
struct ReferenceAt {
    std::vector<BinAt> bins;
    std::vector<std::size_t> linear_at;
    std::vector<std::uint64_t> linear;
};

template <class T> T get(const std::string& bytes, std::size_t at) {
    T v{};
    EXPECT_LE(at + sizeof v, bytes.size());
    if (at + sizeof v <= bytes.size())
        std::memcpy(&v, bytes.data() + at, sizeof v); // the machines are little-endian
    return v;
}
template <class T> void put(std::string& bytes, std::size_t at, T v) {
    ASSERT_LE(at + sizeof v, bytes.size());
    std::memcpy(&bytes[at], &v, sizeof v);
}

std::vector<ReferenceAt> layout_of(const std::string& bai) {
    std::vector<ReferenceAt> refs;
    EXPECT_EQ(bai.substr(0, 4), std::string("BAI\1", 4));
    std::size_t at = 4;
    const auto n_ref = get<std::int32_t>(bai, at);
    at += 4;
    for (std::int32_t r = 0; r < n_ref && at < bai.size(); ++r) {
        ReferenceAt ref;
        const auto n_bin = get<std::int32_t>(bai, at);
        at += 4;
        for (std::int32_t b = 0; b < n_bin; ++b) {
            BinAt bin{at, get<std::uint32_t>(bai, at), {}};
            const auto n_chunk = get<std::int32_t>(bai, at + 4);
            at += 8;
            for (std::int32_t c = 0; c < n_chunk; ++c, at += 16)
                bin.chunks.push_back(
                    {at, get<std::uint64_t>(bai, at), get<std::uint64_t>(bai, at + 8)});
            ref.bins.push_back(bin);
        }
        const auto n_intv = get<std::int32_t>(bai, at);
        at += 4;
        for (std::int32_t k = 0; k < n_intv; ++k, at += 8) {
            ref.linear_at.push_back(at);
            ref.linear.push_back(get<std::uint64_t>(bai, at));
        }
        refs.push_back(ref);
    }
    return refs;
}

// Real bins of a reference, in file order (the pseudo-bin of statistics left out).
std::vector<const BinAt*> real_bins(const ReferenceAt& ref) {
    std::vector<const BinAt*> bins;
    for (const BinAt& b : ref.bins)
        if (b.number != kMetaBin)
            bins.push_back(&b);
    return bins;
}
const BinAt* meta_bin(const ReferenceAt& ref) {
    for (const BinAt& b : ref.bins)
        if (b.number == kMetaBin)
            return &b;
    return nullptr;
}

// The virtual offset of the first record as htslib sees it (just past the header).
std::uint64_t first_record_offset(const TempDir& dir, const std::string& bam) {
    const std::string script =
        dir.write_text("tell.py", "import sys, pysam\n"
                                  "print(pysam.AlignmentFile(sys.argv[1], 'rb').tell())\n");
    return std::stoull(
        peers::run("/usr/bin/python3 " + peers::quoted(script) + " " + peers::quoted(bam)));
}

// Bytes of the uncompressed BAM header of the fixture (magic, text, references), which the
// library writes into the file's first block.
std::uint64_t header_length() {
    const std::vector<std::string> names = {"chr1", "chr2", "chr3"};
    std::uint64_t n =
        4 + 4 + bamkit::sam_header({{"chr1", 300000}, {"chr2", 5000}, {"chr3", 200000}}).size() + 4;
    for (const std::string& name : names)
        n += 4 + name.size() + 1 + 4;
    return n;
}

// What an edit may use: the index's layout and the BAM's facts.
struct Target {
    std::vector<ReferenceAt> refs;
    std::uint64_t first_record;
    std::uint64_t size; // bytes of the BAM
};

using Edit = std::function<void(const Target&, std::string&)>;

struct EditCase {
    const char* label;
    Edit edit;
};
void PrintTo(const EditCase& c, std::ostream* os) {
    *os << c.label;
}

// The chunk or linear entry an edit changes: chr1's first real bin and last linear entry (never
// 0 in either builder's index), or chr3's last real bin.
const ChunkAt& first_chunk(const Target& t) {
    return real_bins(t.refs.at(0)).at(0)->chunks.at(0);
}
const ChunkAt& last_chunk_of_chr3(const Target& t) {
    return real_bins(t.refs.at(2)).back()->chunks.back();
}
std::size_t last_linear_of_chr1(const Target& t) {
    return t.refs.at(0).linear_at.back();
}

enum class Builder { Library, Samtools };
const char* name_of(Builder b) {
    return b == Builder::Library ? "Library" : "Samtools";
}

class BaiValidation : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        bam_ = bamkit::make_bam(*dir_, "v", validation_sam());
        const std::string samtools_bai = dir_->file("samtools.bai");
        peers::run("samtools index -b " + peers::quoted(bam_) + " " + peers::quoted(samtools_bai));
        bai_[0] = read_file(bam_ + ".bai");
        bai_[1] = read_file(samtools_bai);
        first_record_ = first_record_offset(*dir_, bam_);
        for (int ref = 0; ref < 3; ++ref) {
            peer_starts_[ref] =
                peers::column(peers::pysam_fetch(*dir_, bam_, ref),
                              [](const peers::PeerAlignment& a) { return a.position; });
        }
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    static const std::string& bai_bytes(Builder b) { return bai_[b == Builder::Library ? 0 : 1]; }
    static Target target(Builder b) {
        return {layout_of(bai_bytes(b)), first_record_,
                static_cast<std::uint64_t>(file_size(bam_))};
    }

    static TempDir* dir_;
    static std::string bam_;
    static std::string bai_[2];
    static std::uint64_t first_record_;
    static std::vector<std::uint32_t> peer_starts_[3];
};
TempDir* BaiValidation::dir_ = nullptr;
std::string BaiValidation::bam_;
std::string BaiValidation::bai_[2];
std::uint64_t BaiValidation::first_record_ = 0;
std::vector<std::uint32_t> BaiValidation::peer_starts_[3];

// Starts of every reference as getstartsinref gives them over this BAM and index.
std::vector<std::vector<std::uint32_t>> starts_of(const std::string& bam, const std::string& bai) {
    std::vector<std::vector<std::uint32_t>> all;
    for (int ref = 0; ref < 3; ++ref) {
        auto r = call("alignport", 1, args("getstartsinref", bam, bai, ref));
        EXPECT_TRUE(r.ok) << bai << ": " << r.identifier << " " << r.message;
        all.push_back(r.ok ? hxhost::values_of<std::uint32_t>(r.outputs.at(0).get())
                           : std::vector<std::uint32_t>{});
    }
    return all;
}

// One call of each service that reads the index, with inputs that succeed over a valid index.
struct IndexedCall {
    const char* service;
    int nout;
    std::function<Inputs()> service_inputs;
};

const std::vector<std::int32_t> kChr1Starts = {100000, 100397, 100794};

const std::vector<IndexedCall> kIndexedCalls = {
    {"getstartsinref", 3, [] { return args(0); }},
    {"getfeatureinrefbyindex", 1,
     [] {
         return args("Flag", 0, u32({1, 2}), i32(kChr1Starts));
     }},
    {"getfeaturesinrefbyindex", 2,
     [] {
         return args(cell_of({"Flag", "Header"}), 0, u32({2, 3}), i32(kChr1Starts));
     }},
    {"writesambyregion", 0, [] { return Inputs(); }}, // output file and region added by the test
    {"dumpinfobyregion", 0, [] { return args("chr1:100000-120000"); }},
    {"dumpinfobyindex", 0, [] { return args(1, 3); }},
    {"dumpinfoinrefbyindex", 0, [] { return args(0, 1, 2); }},
};

// Runs one indexed call over bam with the index at bai. What it printed goes to *printed; a
// writesambyregion writes to out.
hxhost::CallResult run_indexed(const IndexedCall& c, const std::string& bam, const std::string& bai,
                               const std::string& out, std::string* printed) {
    Inputs in = args(c.service, bam, bai);
    if (std::strcmp(c.service, "writesambyregion") == 0) {
        in.push_back(text(out));
        in.push_back(text("chr3:1000-9000"));
        in.push_back(num(1));
        in.push_back(num(0));
    }
    for (auto& a : c.service_inputs())
        in.push_back(std::move(a));
    hxhost::capture_console(true);
    auto r = call("alignport", c.nout, in);
    *printed = hxhost::take_console();
    hxhost::capture_console(false);
    return r;
}

class DamagedIndex : public BaiValidation,
                     public ::testing::WithParamInterface<std::tuple<Builder, EditCase>> {};

TEST_P(DamagedIndex, IsTheMissingIndexErrorForEveryIndexedService) {
    const Builder builder = std::get<0>(GetParam());
    const EditCase& c = std::get<1>(GetParam());
    std::string bytes = bai_bytes(builder);
    c.edit(target(builder), bytes);
    ASSERT_NE(bytes, bai_bytes(builder)) << "the edit changed nothing";
    ASSERT_EQ(bytes.size(), bai_bytes(builder).size());
    const std::string bad =
        dir_->write_text(std::string(c.label) + "." + name_of(builder) + ".bai", bytes);
    for (const IndexedCall& call : kIndexedCalls) {
        SCOPED_TRACE(call.service);
        const std::string out = dir_->file(std::string(c.label) + ".out.sam");
        std::string printed;
        auto r = run_indexed(call, bam_, bad, out, &printed);
        EXPECT_HX_ERROR(r, kMissing, kMissingText);
        EXPECT_TRUE(r.outputs.empty());
        EXPECT_EQ(printed, "");
        EXPECT_FALSE(file_exists(out));
    }
    // The same file found by the library's lookup beside a copy of the BAM.
    const std::string copy = dir_->file(std::string(c.label) + "." + name_of(builder) + ".bam");
    std::filesystem::copy_file(bam_, copy, std::filesystem::copy_options::overwrite_existing);
    dir_->write_text(std::filesystem::path(copy).filename().string() + ".bai", bytes);
    EXPECT_HX_ERROR(call("alignport", 3, args("getstartsinref", copy, copy, 2)), kMissing,
                    kMissingText);
}

const EditCase kDamage[] = {
    {"BinPastTheMetaBin",
     [](const Target& t, std::string& b) {
         put<std::uint32_t>(b, real_bins(t.refs[0])[0]->at, kMetaBin + 1);
     }},
    {"BinNumberNegative",
     [](const Target& t, std::string& b) {
         put<std::int32_t>(b, real_bins(t.refs[0])[0]->at, -1);
     }},
    {"BinGivenTwice",
     [](const Target& t, std::string& b) {
         const auto bins = real_bins(t.refs[0]);
         put<std::uint32_t>(b, bins.at(1)->at, bins.at(0)->number);
     }},
    // Either a second pseudo-bin or one of the wrong shape.
    {"RealBinNumberedAsTheMetaBin",
     [](const Target& t, std::string& b) {
         put<std::uint32_t>(b, real_bins(t.refs[0])[0]->at, kMetaBin);
     }},
    {"MetaBinWithThreeChunks",
     [](const Target& t, std::string& b) { put<std::int32_t>(b, meta_bin(t.refs[0])->at + 4, 3); }},
    {"ChunkBeginsAtZero",
     [](const Target& t, std::string& b) { put<std::uint64_t>(b, first_chunk(t).at, 0); }},
    {"ChunkBeginsOneByteBeforeTheFirstRecord",
     [](const Target& t, std::string& b) {
         put<std::uint64_t>(b, first_chunk(t).at, t.first_record - 1);
     }},
    {"ChunkBeginsAtTheHeadersLastByte",
     [](const Target& t, std::string& b) {
         put<std::uint64_t>(b, first_chunk(t).at, header_length() - 1);
     }},
    {"ChunkOfTheLastReferenceBeginsInTheHeader",
     [](const Target& t, std::string& b) { put<std::uint64_t>(b, last_chunk_of_chr3(t).at, 1); }},
    {"ChunkEndsWhereItBegins",
     [](const Target& t, std::string& b) {
         put<std::uint64_t>(b, first_chunk(t).at + 8, first_chunk(t).begin);
     }},
    {"ChunkEndsBeforeItBegins",
     [](const Target& t, std::string& b) {
         put<std::uint64_t>(b, last_chunk_of_chr3(t).at + 8, last_chunk_of_chr3(t).begin - 1);
     }},
    {"ChunkEndsOneBlockPastTheFile",
     [](const Target& t, std::string& b) {
         put<std::uint64_t>(b, first_chunk(t).at + 8, (t.size + 1) << 16);
     }},
    {"ChunkEndsOneByteIntoTheFilesEnd",
     [](const Target& t, std::string& b) {
         put<std::uint64_t>(b, last_chunk_of_chr3(t).at + 8, (t.size << 16) | 1);
     }},
    {"ChunkEndsFarPastTheFile",
     [](const Target& t, std::string& b) {
         put<std::uint64_t>(b, first_chunk(t).at + 8, ~std::uint64_t{0});
     }},
    {"LinearEntryPastTheFile",
     [](const Target& t, std::string& b) {
         put<std::uint64_t>(b, last_linear_of_chr1(t), (t.size + 1) << 16);
     }},
    {"LinearEntryInTheHeader",
     [](const Target& t, std::string& b) {
         put<std::uint64_t>(b, last_linear_of_chr1(t), t.first_record - 1);
     }},
    {"LinearEntryOne",
     [](const Target& t, std::string& b) { put<std::uint64_t>(b, last_linear_of_chr1(t), 1); }},
};

INSTANTIATE_TEST_SUITE_P(OneEdit, DamagedIndex,
                         ::testing::Combine(::testing::Values(Builder::Library, Builder::Samtools),
                                            ::testing::ValuesIn(kDamage)),
                         [](const auto& p) {
                             return std::string(name_of(std::get<0>(p.param))) + "_" +
                                    std::get<1>(p.param).label;
                         });

// Edits that leave an index the BAM can have: each still loads and gives the same starts.
class HarmlessEdit : public BaiValidation,
                     public ::testing::WithParamInterface<std::tuple<Builder, EditCase>> {};

TEST_P(HarmlessEdit, LoadsAndGivesTheSameStarts) {
    const Builder builder = std::get<0>(GetParam());
    const EditCase& c = std::get<1>(GetParam());
    std::string bytes = bai_bytes(builder);
    c.edit(target(builder), bytes);
    ASSERT_NE(bytes, bai_bytes(builder)) << "the edit changed nothing";
    const std::string edited =
        dir_->write_text(std::string(c.label) + "." + name_of(builder) + ".bai", bytes);
    const auto starts = starts_of(bam_, edited);
    for (int ref = 0; ref < 3; ++ref)
        EXPECT_EQ(starts.at(static_cast<std::size_t>(ref)), peer_starts_[ref])
            << "reference " << ref;
}

const EditCase kHarmless[] = {
    {"ChunkBeginsAtTheFirstRecord",
     [](const Target& t, std::string& b) {
         put<std::uint64_t>(b, first_chunk(t).at, t.first_record);
     }},
    // The end of a file without the end-of-file block, the largest end a chunk can have.
    {"ChunkEndsAtTheFilesEnd",
     [](const Target& t, std::string& b) {
         put<std::uint64_t>(b, last_chunk_of_chr3(t).at + 8, t.size << 16);
     }},
    {"LinearEntryZero",
     [](const Target& t, std::string& b) { put<std::uint64_t>(b, last_linear_of_chr1(t), 0); }},
    {"LinearEntryAtTheFirstRecord",
     [](const Target& t, std::string& b) {
         put<std::uint64_t>(b, last_linear_of_chr1(t), t.first_record);
     }},
    // The pseudo-bin's second pair holds counts, its first the reference's span: neither is
    // an offset a query reads from.
    {"MetaBinCountsHuge",
     [](const Target& t, std::string& b) {
         put<std::uint64_t>(b, meta_bin(t.refs[0])->chunks.at(1).at, ~std::uint64_t{0});
         put<std::uint64_t>(b, meta_bin(t.refs[0])->chunks.at(1).at + 8, ~std::uint64_t{0});
     }},
    {"MetaBinSpanZero",
     [](const Target& t, std::string& b) {
         put<std::uint64_t>(b, meta_bin(t.refs[2])->chunks.at(0).at, 0);
     }},
};

INSTANTIATE_TEST_SUITE_P(OneEdit, HarmlessEdit,
                         ::testing::Combine(::testing::Values(Builder::Library, Builder::Samtools),
                                            ::testing::ValuesIn(kHarmless)),
                         [](const auto& p) {
                             return std::string(name_of(std::get<0>(p.param))) + "_" +
                                    std::get<1>(p.param).label;
                         });

TEST_F(BaiValidation, TheIndexesCarryTheShapesTheTablesEdit) {
    for (Builder builder : {Builder::Library, Builder::Samtools}) {
        SCOPED_TRACE(name_of(builder));
        const Target t = target(builder);
        ASSERT_EQ(t.refs.size(), 3u);
        EXPECT_GE(real_bins(t.refs[0]).size(), 2u);
        EXPECT_GE(real_bins(t.refs[2]).size(), 1u); // samtools merges small bins into their parents
        EXPECT_TRUE(t.refs[1].bins.empty());
        for (int ref : {0, 2}) {
            ASSERT_NE(meta_bin(t.refs[ref]), nullptr);
            EXPECT_EQ(meta_bin(t.refs[ref])->chunks.size(), 2u);
        }
        EXPECT_NE(t.refs[0].linear.back(), 0u);
        EXPECT_LT(header_length(), 65536u); // one block
        EXPECT_GT(t.first_record,
                  header_length()); // the first record begins after the header's block
        EXPECT_GE(first_chunk(t).begin, t.first_record);
        EXPECT_LT(first_chunk(t).begin >> 16, last_chunk_of_chr3(t).end >> 16); // several blocks
    }
    // The library leaves the windows before chr1's first read empty; samtools fills them.
    EXPECT_EQ(target(Builder::Library).refs[0].linear.front(), 0u);
    EXPECT_NE(target(Builder::Samtools).refs[0].linear.front(), 0u);
}

TEST_F(BaiValidation, EveryIndexedCallSucceedsOverTheValidIndexes) {
    for (Builder builder : {Builder::Library, Builder::Samtools}) {
        const std::string bai =
            dir_->write_text(std::string("valid.") + name_of(builder) + ".bai", bai_bytes(builder));
        for (const IndexedCall& c : kIndexedCalls) {
            SCOPED_TRACE(std::string(name_of(builder)) + " " + c.service);
            const std::string out = dir_->file("valid.out.sam");
            std::filesystem::remove(out);
            std::string printed;
            auto r = run_indexed(c, bam_, bai, out, &printed);
            ASSERT_TRUE(r.ok) << r.identifier << ": " << r.message;
            if (std::strcmp(c.service, "writesambyregion") == 0) {
                EXPECT_GT(file_size(out), 0);
            }
            if (std::strncmp(c.service, "dump", 4) == 0) {
                EXPECT_NE(printed.find("chr1_"), std::string::npos) << printed;
            }
        }
    }
}

// Every pair of BAM writer and index builder: the index loads and the starts are pysam's.
TEST_F(BaiValidation, IndexesOfTheLibraryIndexbamfileAndSamtoolsGiveTheStartsPysamReads) {
    const std::string samtools_bam = dir_->file("st.bam");
    peers::run("samtools view -b -o " + peers::quoted(samtools_bam) + " " +
               peers::quoted(dir_->file("v.sam")));
    for (const std::string& bam : {bam_, samtools_bam}) {
        SCOPED_TRACE(bam);
        const std::string via_samtools = bam + ".samtools.bai";
        peers::run("samtools index -b " + peers::quoted(bam) + " " + peers::quoted(via_samtools));
        if (bam == samtools_bam) // BAM.bai, for pysam's open; the library's own stays beside bam_
            peers::run("samtools index -b " + peers::quoted(bam));
        // Both writers end the header's block with the header: the first record begins a block.
        EXPECT_EQ(first_record_offset(*dir_, bam) & 0xffff, 0u);
        const std::string via_plugin = bam + ".plugin.bai";
        auto built = call("alignport", 0, args("indexbamfile", bam, via_plugin));
        ASSERT_TRUE(built.ok) << built.identifier << ": " << built.message;
        std::vector<std::string> indexes = {via_samtools, via_plugin};
        if (bam == bam_)
            indexes.push_back(bam_ + ".bai"); // bam_index_build's
        for (const std::string& bai : indexes) {
            SCOPED_TRACE(bai);
            const auto starts = starts_of(bam, bai);
            for (int ref = 0; ref < 3; ++ref)
                EXPECT_EQ(starts.at(static_cast<std::size_t>(ref)), peer_starts_[ref])
                    << "reference " << ref;
        }
    }
    EXPECT_EQ(peer_starts_[0].size(), 400u);
    EXPECT_TRUE(peer_starts_[1].empty());
    EXPECT_EQ(peer_starts_[2].size(), 300u);
}

} // namespace
