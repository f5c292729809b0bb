// Files larger than the reader's block, with lines of every length from empty to more than two
// blocks, so that line ends and headers fall at every kind of place relative to a block's end
// and lines longer than a block cross several: the index agrees with a plain model of the line
// rules, and the polls with the lines read.
#include "indexkit.h"

#include <random>

using namespace indexkit;
using testkit::TempDir;

namespace {

// The reader's block: a line longer than this is read through a moving window.
constexpr std::size_t kBlock = std::size_t{1} << 18;

struct Piece {
    std::uint64_t start;
    std::string text; // line feed included when the line has one
};

// The lines of a text.
std::vector<Piece> pieces_of(const std::string& text) {
    std::vector<Piece> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t feed = text.find('\n', at);
        const std::size_t line_end = feed == std::string::npos ? text.size() : feed + 1;
        out.push_back({at, text.substr(at, line_end - at)});
        at = line_end;
    }
    return out;
}

// The first word after a one-character header mark (blanks of a formatted read skipped).
bool word_after_mark(const std::string& piece, std::string& key) {
    const char* blanks = " \t\n\r\v\f";
    const std::size_t begin = piece.find_first_not_of(blanks, 1);
    if (begin == std::string::npos || piece[begin] == '\0')
        return false;
    const std::size_t end = piece.find_first_of(std::string(blanks) + '\0', begin);
    key = piece.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    return true;
}

struct Model {
    std::vector<std::string> keys;
    std::vector<std::uint64_t> offsets;
    long lines = 0;
    long polls = 0;
    std::vector<std::size_t> keys_before_poll; // keys written before poll j + 1
};

Model fasta_model(const std::string& text) {
    Model m;
    std::string key;
    std::uint64_t line_start = 0;
    for (const Piece& p : pieces_of(text)) {
        m.keys_before_poll.push_back(m.keys.size());
        if (p.text[0] == '>') {
            word_after_mark(p.text, key); // no word: the previous key again
            m.keys.push_back(key);
            m.offsets.push_back(line_start);
        }
        ++m.lines;
        line_start = p.start + p.text.size();
    }
    m.offsets.push_back(line_start);
    m.polls = m.lines;
    return m;
}

Model fastq_model(const std::string& text) {
    Model m;
    std::string key;
    const std::vector<Piece> pieces = pieces_of(text);
    std::uint64_t line_start = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        ++m.polls;
        m.keys_before_poll.push_back(m.keys.size());
        std::uint64_t after = pieces[i].start + pieces[i].text.size();
        if (pieces[i].text[0] == '@') {
            word_after_mark(pieces[i].text, key);
            m.keys.push_back(key);
            m.offsets.push_back(line_start);
            i = std::min(i + 3, pieces.size() - 1);
            after = std::min<std::uint64_t>(pieces[i].start + pieces[i].text.size(), text.size());
            m.lines += 3;
        }
        ++m.lines;
        line_start = after;
    }
    m.offsets.push_back(line_start);
    return m;
}

// Lines of random lengths: mostly short, some around the old 65,534-character piece, the block
// or two blocks (with the mark inside them, which begins no entry), headers marked with mark
// (with or without a word, some longer than a block).
std::string seeded_text(unsigned seed, char mark, std::size_t size) {
    std::mt19937 rng(seed);
    std::string text;
    int header = 0;
    while (text.size() < size) {
        const unsigned kind = rng() % 1000;
        if (kind < 150) {
            text += mark;
            if (rng() % 5 != 0)
                text += (rng() % 2 ? "" : " ") + std::string("id") + std::to_string(header++);
            text += rng() % 3 == 0 ? " some text\n" : "\n";
        } else if (kind < 152) {
            const std::size_t sizes[] = {65534, kBlock, 2 * kBlock};
            const std::size_t length = sizes[rng() % 3] - 2 + rng() % 5;
            std::string line(length, 'N');
            if (rng() % 2 && length > 65540)
                line.replace(65534, 4, std::string(1, mark) + "pc "); // no header: mid-line
            text += line + "\n";
        } else if (kind < 153) {
            text += mark + std::string("long") + std::to_string(header++) + " " +
                    std::string(kBlock + rng() % 1000, 'd') + "\n";
        } else if (kind < 180) {
            text += rng() % 2 ? "\n" : "\r\n";
        } else {
            const std::size_t length = rng() % 200;
            for (std::size_t i = 0; i < length; ++i)
                text.push_back("ACGT"[rng() % 4]);
            text += "\n";
        }
    }
    if (rng() % 2)
        text.pop_back(); // no final line feed
    return text;
}

struct BlockCase {
    const char* type;
    unsigned seed;
};

class ReadBlocks : public ::testing::TestWithParam<BlockCase> {};

TEST_P(ReadBlocks, IndexAgreesWithTheLineRulesAcrossBlockEnds) {
    const BlockCase& c = GetParam();
    const bool fasta = std::string(c.type) == "fasta";
    const std::string text = seeded_text(c.seed, fasta ? '>' : '@', 1200000);
    const Model expected = fasta ? fasta_model(text) : fastq_model(text);
    TempDir dir;
    Request r;
    r.type = c.type;
    r.input = dir.write_text("in.txt", text);
    r.index = dir.file("out.idx");
    r.wide = 1;
    auto result = run(r);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(output(result, 0), static_cast<double>(expected.keys.size()));
    EXPECT_EQ(output(result, 1), static_cast<double>(expected.lines));
    EXPECT_EQ(result.polls.handle, expected.polls);
    const IndexFile f = read_index(r.index);
    EXPECT_EQ(f.keys, expected.keys);
    EXPECT_EQ(f.offsets, expected.offsets);
}

// A stop request deep in the file, inside a run of sequence lines and on a header line.
TEST_P(ReadBlocks, StopRequestAfterManyBlocksKeepsTheKeysSoFar) {
    const BlockCase& c = GetParam();
    const bool fasta = std::string(c.type) == "fasta";
    const std::string text = seeded_text(c.seed, fasta ? '>' : '@', 600000);
    const Model whole = fasta ? fasta_model(text) : fastq_model(text);
    TempDir dir;
    Request r;
    r.type = c.type;
    r.input = dir.write_text("in.txt", text);
    r.index = dir.file("out.idx");
    for (long k : {whole.polls / 2, whole.polls / 2 + 1, whole.polls}) {
        hxhost::CallOptions options;
        options.interrupt_at = k;
        auto result = run(r, 2, options);
        EXPECT_HX_ERROR(result, "helixo:flatmark:IterruptedByUser",
                        "Operation terminated by user.");
        EXPECT_EQ(result.polls.handle, k);
        std::string expected(512, '\0');
        for (std::size_t i = 0; i < whole.keys_before_poll.at(static_cast<std::size_t>(k - 1)); ++i)
            expected += whole.keys[i] + "\n";
        const std::string index = testkit::read_file(r.index);
        EXPECT_TRUE(index == expected) << "stop request at poll " << k << ": " << index.size()
                                       << " bytes, expected " << expected.size();
    }
}

const BlockCase kBlockCases[] = {
    {"fasta", 1}, {"fasta", 2}, {"fasta", 3}, {"fasta", 4},
    {"fastq", 5}, {"fastq", 6}, {"fastq", 7}, {"fastq", 8},
};

INSTANTIATE_TEST_SUITE_P(Flatmark, ReadBlocks, ::testing::ValuesIn(kBlockCases),
                         [](const testing::TestParamInfo<BlockCase>& param) {
                             return std::string(param.param.type) + "Seed" +
                                    std::to_string(param.param.seed);
                         });

} // namespace
