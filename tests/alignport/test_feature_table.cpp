// The feature table applied to records built byte by byte, for values that no indexed fetch
// delivers (records without a position) or that SAM text cannot carry (quality bytes of 128
// and more).
#include "bam_layer.h"
#include "feature_table.h"
#include "testkit.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using alignport::FeatureOutput;
using alignport::QualityBytes;

// A record with the given CIGAR words, 4-bit base codes and quality bytes.
alignport::RecordPtr make_record(int pos, int mpos, const std::vector<std::uint32_t>& cigar,
                                 const std::vector<std::uint8_t>& codes,
                                 const std::vector<std::uint8_t>& quals) {
    alignport::RecordPtr b = alignport::new_record();
    const char name[] = "rec";
    b->core.pos = pos;
    b->core.mpos = mpos;
    b->core.l_qname = sizeof name;
    b->core.n_cigar = static_cast<std::uint16_t>(cigar.size());
    b->core.l_qseq = static_cast<std::int32_t>(codes.size());
    std::vector<std::uint8_t> data(name, name + sizeof name);
    for (std::uint32_t w : cigar) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(&w);
        data.insert(data.end(), p, p + 4);
    }
    for (std::size_t i = 0; i < codes.size(); i += 2)
        data.push_back(
            static_cast<std::uint8_t>(codes[i] << 4 | (i + 1 < codes.size() ? codes[i + 1] : 0)));
    data.insert(data.end(), quals.begin(), quals.end());
    b->data = static_cast<std::uint8_t*>(std::realloc(b->data, data.size()));
    b->m_data = b->data_len = static_cast<int>(data.size());
    std::memcpy(b->data, data.data(), data.size());
    return b;
}

std::uint32_t op(std::uint32_t length, std::uint32_t code) {
    return length << 4 | code;
}

// Writes one feature of b into a fresh one-row output and returns it.
hxhost::ArrayPtr written(int code, const bam1_t* b, QualityBytes q = QualityBytes::Unsigned) {
    FeatureOutput out = alignport::create_feature_output(code, 1);
    hxhost::ArrayPtr owner(out.array);
    std::string scratch;
    alignport::write_feature(code, out, 0, b, q, scratch);
    return owner;
}

std::uint32_t u32_of(const hxhost::ArrayPtr& a) {
    return hxhost::values_of<std::uint32_t>(a.get()).at(0);
}

std::vector<haChar> codes_of(const hxhost::ArrayPtr& cell) {
    const haArray* row = haGetCell(cell.get(), 0);
    const auto* c = static_cast<const haChar*>(haGetData(row));
    return std::vector<haChar>(c, c + haGetNumberOfElements(row));
}

TEST(FeatureTable, RecordWithoutPositionGivesZeroPositionAndEnd) {
    auto b = make_record(-1, -1, {op(5, 0)}, {1, 2, 4, 8, 15}, {30, 30, 30, 30, 30});
    EXPECT_EQ(u32_of(written(alignport::kPosition, b.get())), 0u);
    EXPECT_EQ(u32_of(written(alignport::kEndPosition, b.get())), 0u);
    EXPECT_EQ(u32_of(written(alignport::kMatePosition, b.get())), 0u);
    EXPECT_EQ(u32_of(written(alignport::kMateIndex, b.get())), 0u);
}

TEST(FeatureTable, MateIndexEqualsMatePosition) {
    auto b = make_record(10, 499, {op(5, 0)}, {1, 2, 4, 8, 15}, {30, 30, 30, 30, 30});
    EXPECT_EQ(u32_of(written(alignport::kMatePosition, b.get())), 500u);
    EXPECT_EQ(u32_of(written(alignport::kMateIndex, b.get())), 500u);
}

TEST(FeatureTable, QualityBytesAreSignedForOneFeatureAndUnsignedForSeveral) {
    auto b = make_record(0, -1, {op(4, 0)}, {1, 2, 4, 8}, {0, 127, 128, 255});
    EXPECT_EQ(codes_of(written(alignport::kQuality, b.get(), QualityBytes::Signed)),
              (std::vector<haChar>{33, 160, static_cast<haChar>(-95), 32}));
    EXPECT_EQ(codes_of(written(alignport::kQuality, b.get(), QualityBytes::Unsigned)),
              (std::vector<haChar>{33, 160, 161, 288}));
}

TEST(FeatureTable, NineBasesTakeTheLastFromTheHighHalfOfTheFifthByte) {
    auto b = make_record(0, -1, {op(9, 0)}, {0, 1, 2, 3, 4, 5, 6, 7, 8},
                         std::vector<std::uint8_t>(9, 20));
    const auto seq = written(alignport::kSequence, b.get());
    EXPECT_EQ(hxhost::dims_of(haGetCell(seq.get(), 0)), (std::vector<haSize>{1, 9}));
    EXPECT_EQ(hxhost::text_of(haGetCell(seq.get(), 0)), "=ACMGRSVT");
}

TEST(FeatureTable, EqualAndDiffAreMatchesAndCodesFromNineUpShowAsQuestionMarks) {
    auto b = make_record(99, -1, {op(3, 0), op(2, 7), op(2, 8), op(4, 2), op(1, 9), op(6, 3)},
                         std::vector<std::uint8_t>(7, 1), std::vector<std::uint8_t>(7, 30));
    EXPECT_EQ(hxhost::text_of(haGetCell(written(alignport::kSignature, b.get()).get(), 0)),
              "3M2=2X4D1?6N");
    EXPECT_EQ(u32_of(written(alignport::kEndPosition, b.get())), 99u + 3 + 2 + 2 + 4 + 6);
}

TEST(FeatureTable, QueryLengthKeepsTheLowSixteenBits) {
    auto b = make_record(0, -1, {}, {}, {});
    b->core.l_qseq = 70000; // only the count is read for this feature
    const auto out = written(alignport::kQueryLength, b.get());
    EXPECT_EQ(hxhost::values_of<std::uint16_t>(out.get()).at(0), 4464);
}

TEST(FeatureTable, NamesMatchWholeAndCaseSensitive) {
    EXPECT_EQ(alignport::find_feature("Flag"), alignport::kFlag);
    EXPECT_EQ(alignport::find_feature("Quality"), alignport::kQuality);
    EXPECT_EQ(alignport::find_feature("MateIndex"), alignport::kMateIndex);
    EXPECT_EQ(alignport::find_feature("flag"), -1);
    EXPECT_EQ(alignport::find_feature("Flag "), -1);
    EXPECT_EQ(alignport::find_feature("Fla"), -1);
}

} // namespace
