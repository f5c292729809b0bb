#include "feature_table.h"

#include "alignment_fields.h"

#include <cstring>

namespace alignport {
namespace {

struct FeatureRow {
    const char* name;
    haClassID cls; // haCELL_CLASS for the text features
};

const FeatureRow kFeatures[kFeatureCount] = {
    {"Flag", haUINT16_CLASS},          {"Position", haUINT32_CLASS},
    {"MappingQuality", haUINT8_CLASS}, {"MatePosition", haUINT32_CLASS},
    {"MateIndex", haUINT32_CLASS},     {"QueryLength", haUINT16_CLASS},
    {"EndPosition", haUINT32_CLASS},   {"Signature", haCELL_CLASS},
    {"Sequence", haCELL_CLASS},        {"Header", haCELL_CLASS},
    {"Quality", haCELL_CLASS},
};

// The letter of a CIGAR operation code; '?' for the codes no operation has.
char cigar_letter(std::uint32_t op) {
    return op < hxb::kCigarOpCount ? hxb::kCigarOpLetters[op] : '?';
}

// A 0-based position as the 1-based one returned to the host; 0 when there is none.
std::uint32_t one_based(std::int32_t pos) {
    return pos < 0 ? 0u : static_cast<std::uint32_t>(pos) + 1u;
}

template <class T> void store(const FeatureOutput& out, haSize row, T value) {
    static_cast<T*>(out.data)[row] = value;
}

haArray* char_row(haSize length) {
    const haSize dims[2] = {1, length};
    return haCreateCharArray(2, dims);
}

const std::string& cigar_text(const bam1_t* b, std::string& text) {
    text.clear();
    if (b->core.n_cigar == 0) {
        text.push_back('*');
        return text;
    }
    char digits[16];
    for (std::uint32_t k = 0; k < b->core.n_cigar; ++k) {
        const std::uint32_t word = cigar_word(b, k);
        std::uint32_t length = word >> BAM_CIGAR_SHIFT;
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + length % 10);
            length /= 10;
        } while (length != 0);
        while (n > 0)
            text.push_back(digits[--n]);
        text.push_back(cigar_letter(word & BAM_CIGAR_MASK));
    }
    return text;
}

haArray* sequence_row(const bam1_t* b) {
    const haSize length = b->core.l_qseq > 0 ? static_cast<haSize>(b->core.l_qseq) : 0;
    haArray* row = char_row(length);
    auto* codes = static_cast<haChar*>(haGetData(row));
    const std::uint8_t* packed = bam1_seq(b);
    for (haSize i = 0; i < length; ++i)
        codes[i] = static_cast<haChar>(kBaseLetters[bam1_seqi(packed, i)]);
    return row;
}

haArray* quality_row(const bam1_t* b, QualityBytes quality) {
    const haSize length = b->core.l_qseq > 0 ? static_cast<haSize>(b->core.l_qseq) : 0;
    haArray* row = char_row(length);
    auto* codes = static_cast<haChar*>(haGetData(row));
    const std::uint8_t* bytes = bam1_qual(b);
    // A signed byte below -33 wraps modulo 2^16, as storing into a 16-bit character does.
    if (quality == QualityBytes::Signed) {
        for (haSize i = 0; i < length; ++i)
            codes[i] = static_cast<haChar>(static_cast<std::int8_t>(bytes[i]) + 33);
    } else {
        for (haSize i = 0; i < length; ++i)
            codes[i] = static_cast<haChar>(bytes[i] + 33);
    }
    return row;
}

} // namespace

int find_feature(const char* name) {
    for (int code = 0; code < kFeatureCount; ++code) {
        if (std::strcmp(kFeatures[code].name, name) == 0)
            return code;
    }
    return -1;
}

FeatureOutput create_feature_output(int code, haSize m) {
    FeatureOutput out;
    const haClassID cls = kFeatures[code].cls;
    if (cls == haCELL_CLASS) {
        out.array = haCreateCellMatrix(m, 1);
    } else {
        out.array = haCreateNumericMatrix(m, 1, cls, haREAL);
        out.data = haGetData(out.array);
    }
    return out;
}

void write_feature(int code, const FeatureOutput& out, haSize row, const bam1_t* b,
                   QualityBytes quality, std::string& scratch) {
    const bam1_core_t& c = b->core;
    switch (code) {
    case kFlag:
        store<std::uint16_t>(out, row, c.flag);
        break;
    case kPosition:
        store<std::uint32_t>(out, row, one_based(c.pos));
        break;
    case kMappingQuality:
        store<std::uint8_t>(out, row, c.qual);
        break;
    case kMatePosition:
    case kMateIndex: // the same source as MatePosition: the two columns are equal
        store<std::uint32_t>(out, row, one_based(c.mpos));
        break;
    case kQueryLength:
        store<std::uint16_t>(out, row, static_cast<std::uint16_t>(c.l_qseq));
        break;
    case kEndPosition:
        store<std::uint32_t>(out, row, c.pos < 0 ? 0u : last_reference_base(b));
        break;
    case kSignature:
        haSetCell(out.array, row, haCreateString(cigar_text(b, scratch).c_str()));
        break;
    case kSequence:
        haSetCell(out.array, row, sequence_row(b));
        break;
    case kHeader:
        haSetCell(out.array, row, haCreateString(bam1_qname(b)));
        break;
    case kQuality:
        haSetCell(out.array, row, quality_row(b, quality));
        break;
    default:
        break;
    }
}

} // namespace alignport
