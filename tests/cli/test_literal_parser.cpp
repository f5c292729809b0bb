// hxrun's literal parser in-process: nesting limits, and a seeded fuzz run in which every word
// either becomes an array or is refused with a usage error, leaking nothing.
#include "cli.h"
#include "testkit.h"

#include <cstring>
#include <random>

namespace {

using hxrun::parse_literal;

std::string nested_cells(int depth) {
    std::string word;
    for (int k = 0; k < depth; ++k)
        word += "cell:{";
    word += "x";
    return word + std::string(static_cast<std::size_t>(depth), '}');
}

TEST(LiteralParser, CellsNestSixtyFourDeepAndNoDeeper) {
    const hxhost::ArrayPtr a = parse_literal(nested_cells(64));
    const haArray* level = a.get();
    for (int k = 0; k < 64; ++k) {
        ASSERT_TRUE(haIsCell(level)) << k;
        level = haGetCell(level, 0);
    }
    EXPECT_EQ(hxhost::text_of(level), "x");
    EXPECT_THROW(parse_literal(nested_cells(65)), hxrun::UsageError);
    EXPECT_THROW(parse_literal(nested_cells(20000)), hxrun::UsageError);
}

TEST(LiteralParser, ReservedPrefixMustBeTheWholeTextBeforeTheColon) {
    EXPECT_TRUE(haIsChar(parse_literal("uint32x:5").get()));
    EXPECT_TRUE(haIsChar(parse_literal(" double:5").get()));
    EXPECT_TRUE(haIsChar(parse_literal("celL:{}").get()));
    EXPECT_EQ(haGetClassID(parse_literal("uint32:5").get()), haUINT32_CLASS);
    EXPECT_EQ(hxhost::text_of(parse_literal("a:uint32:5").get()), "a:uint32:5");
}

TEST(LiteralParser, SeededRandomWordsNeverCrashOrLeak) {
    const std::vector<std::string> pieces{"uint8:",
                                          "int64:",
                                          "double:",
                                          "single:",
                                          "logical:",
                                          "cell:{",
                                          "complex:",
                                          "str:",
                                          "[",
                                          "]",
                                          "{",
                                          "}",
                                          ",",
                                          ";",
                                          "/",
                                          "x",
                                          "0",
                                          "1",
                                          "9",
                                          "-",
                                          ".",
                                          "e",
                                          "nan",
                                          "inf",
                                          "true",
                                          "2x2",
                                          "@",
                                          ":",
                                          "a",
                                          " ",
                                          "18446744073709551616",
                                          "0x0",
                                          "/1x0",
                                          "}}",
                                          "[[",
                                          "uint32@"};
    std::mt19937 random(20261208);
    const long before = hxhost::live_arrays();
    int accepted = 0;
    for (int n = 0; n < 20000; ++n) {
        std::string word;
        const std::size_t length = 1 + random() % 14;
        for (std::size_t k = 0; k < length; ++k)
            word += pieces[random() % pieces.size()];
        try {
            hxhost::ArrayPtr a = parse_literal(word);
            ASSERT_NE(a, nullptr) << word;
            ++accepted;
        } catch (const hxrun::UsageError& e) {
            ASSERT_GT(std::strlen(e.what()), 0u) << word;
        }
        ASSERT_EQ(hxhost::live_arrays(), before) << word;
    }
    EXPECT_GT(accepted, 1000); // the fuzz reaches the accepting paths too
}

} // namespace
