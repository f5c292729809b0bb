// The fields saminfo reads from an alignment line: the shortcut for the usual shape of a line
// agrees with the full character-by-character scan on every line, usual or not.
#include "sam_text_reader.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>

using alignport::AlignmentFields;

namespace {

struct Scan {
    bool ok = false;
    std::string name;
    std::int32_t position = 0;
};

Scan scan_with(bool (*scanner)(const char*, std::size_t, AlignmentFields*),
               const std::string& line) {
    AlignmentFields fields{};
    Scan s;
    s.ok = scanner(line.data(), line.size(), &fields);
    if (s.ok) {
        s.name.assign(fields.name, fields.name_length);
        s.position = fields.position;
    }
    return s;
}

void expect_same_scan(const std::string& line) {
    const Scan quick = scan_with(alignport::scan_alignment_fields, line);
    const Scan full = scan_with(alignport::scan_alignment_fields_in_full, line);
    ASSERT_EQ(quick.ok, full.ok) << testing::PrintToString(line);
    if (full.ok) {
        EXPECT_EQ(quick.name, full.name) << testing::PrintToString(line);
        EXPECT_EQ(quick.position, full.position) << testing::PrintToString(line);
    }
}

const std::string kTail = "\t30\t100M\t*\t0\t0\tACGTACGTACGTACGTACGTACGTACGTACGTACGT\tIIII\n";

struct FieldCase {
    const char* name;
    std::string line;
    bool ok;
    const char* rname;
    std::int32_t position;
};

class SamFields : public testing::TestWithParam<FieldCase> {};

TEST_P(SamFields, GiveTheFieldsOfTheFormattedRead) {
    const FieldCase& c = GetParam();
    const Scan s = scan_with(alignport::scan_alignment_fields, c.line);
    ASSERT_EQ(s.ok, c.ok);
    if (c.ok) {
        EXPECT_EQ(s.name, c.rname);
        EXPECT_EQ(s.position, c.position);
    }
    expect_same_scan(c.line);
}

const FieldCase kFieldCases[] = {
    {"usual", "r1\t0\tchr1\t100" + kTail, true, "chr1", 100},
    {"short line", "r1\t0\tchr1\t100\n", true, "chr1", 100},
    {"spaces between", "r1  0 chr1   100" + kTail, true, "chr1", 100},
    {"signed flag", "r1\t+16\tchr2\t7" + kTail, true, "chr2", 7},
    {"negative position", "r1\t0\tchr1\t-5" + kTail, true, "chr1", -5},
    {"position wraps at 32 bits", "r1\t0\tchr1\t4294967396" + kTail, true, "chr1", 100},
    {"eighteen digits", "r1\t0\tchr1\t123456789012345678" + kTail, true, "chr1",
     static_cast<std::int32_t>(static_cast<std::uint32_t>(123456789012345678ULL))},
    {"nineteen digits saturate", "r1\t0\tchr1\t9999999999999999999" + kTail, true, "chr1", -1},
    {"position saturates", "r1\t0\tchr1\t99999999999999999999" + kTail, true, "chr1", -1},
    {"flag runs into the name", "r1\t12chr3\t8" + kTail, true, "chr3", 8},
    {"position followed by letters", "r1\t0\tchr1\t55x" + kTail, true, "chr1", 55},
    {"flag not a number", "r1\tx\tchr1\t1" + kTail, false, "", 0},
    {"position missing", "r1\t0\tchr1\t*" + kTail, false, "", 0},
    {"zero byte ends the text", std::string("r1\t0\tch\0r1\t9", 11) + kTail, false, "", 0},
    {"long read name", std::string(70, 'q') + "\t0\tchr9\t42" + kTail, true, "chr9", 42},
};

INSTANTIATE_TEST_SUITE_P(Alignport, SamFields, testing::ValuesIn(kFieldCases),
                         [](const testing::TestParamInfo<FieldCase>& param) {
                             std::string n = param.param.name;
                             for (char& c : n)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return n;
                         });

// A usual line with one byte replaced, at every position of the first 72 bytes, by each of
// the characters that change how a field ends or reads.
TEST(SamFieldsShortcut, AgreesWithTheFullScanWhateverByteIsChanged) {
    const std::string usual = "read_0001\t16\tchr12\t123456789" + kTail;
    const char replacements[] = {'\t', ' ', '\n', '\r', '\v', '\f', '\0',   '\x01', '+',   '-',
                                 '0',  '9', '/',  ':',  '?',  'a',  '\x7f', '\x80', '\xff'};
    for (std::size_t at = 0; at < 72; ++at) {
        for (char c : replacements) {
            std::string line = usual;
            line[at] = c;
            expect_same_scan(line);
            expect_same_scan(line.substr(0, at + 1)); // cut just after the change
        }
    }
}

// Seeded lines of random field widths around the 64-byte window and random separators.
TEST(SamFieldsShortcut, AgreesWithTheFullScanOnSeededLines) {
    std::mt19937 rng(20261208);
    const std::string pieces[] = {"\t", "\t", "\t", " ", "\t\t", "", std::string(1, '\0'), "\x01"};
    auto digits = [&](int n) {
        std::string d;
        for (int i = 0; i < n; ++i)
            d.push_back(static_cast<char>('0' + rng() % 10));
        return d;
    };
    for (int k = 0; k < 20000; ++k) {
        auto separator = [&] {
            const std::string& first = pieces[rng() % 8];
            return rng() % 4 == 0 ? first + pieces[rng() % 5] : first;
        };
        std::string line = std::string(1 + rng() % 40, 'r') + separator() +
                           digits(1 + static_cast<int>(rng() % 5)) + separator() +
                           std::string(1 + rng() % 20, 'c') + separator() +
                           digits(1 + static_cast<int>(rng() % 22)) + kTail;
        line.resize(rng() % (line.size() + 1));
        expect_same_scan(line);
    }
}

} // namespace
