#include "sam_format.h"

#include "alignment_fields.h"
#include "cigar_ops.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace alignport {

namespace {

// The library's letter of each CIGAR operation code: the BAM operations' letters, then "B" for
// code 9, which the library's letter string still has. Code 10 is the zero that ends that
// string, so the library's text ends there; codes above 10 would read past it and are refused.
struct CigarLetters {
    char text[11];
    constexpr CigarLetters() : text() {
        for (unsigned op = 0; op < hxb::kCigarOpCount; ++op)
            text[op] = hxb::kCigarOpLetters[op];
        text[9] = 'B';
        text[10] = '\0';
    }
};
constexpr CigarLetters kCigarLetters;
constexpr std::uint32_t kLastCigarCode = 10;

// Room an optional field's text may take per byte of the field: the widest case is a B array of
// int8 ("," and four characters per byte); a number in %g takes at most kFloatRoom - 1.
constexpr std::size_t kRoomPerAuxByte = 8;
constexpr int kFloatRoom = 32;
// The mandatory columns' separators, numbers and stars, with margin.
constexpr std::size_t kFixedRoom = 128;

struct DigitPairs {
    char text[200];
    constexpr DigitPairs() : text() {
        for (int k = 0; k < 100; ++k) {
            text[2 * k] = static_cast<char>('0' + k / 10);
            text[2 * k + 1] = static_cast<char>('0' + k % 10);
        }
    }
};
constexpr DigitPairs kDigitPairs;

// The two letters of each byte of a packed sequence, high half first.
struct BasePairs {
    char text[512];
    constexpr BasePairs() : text() {
        for (int k = 0; k < 256; ++k) {
            text[2 * k] = kBaseLetters[k >> 4];
            text[2 * k + 1] = kBaseLetters[k & 15];
        }
    }
};
constexpr BasePairs kBasePairs;

int decimal_digits(std::uint32_t v) {
    int n = 1;
    for (;;) {
        if (v < 10)
            return n;
        if (v < 100)
            return n + 1;
        if (v < 1000)
            return n + 2;
        if (v < 10000)
            return n + 3;
        v /= 10000;
        n += 4;
    }
}

// Decimal text of v at p, as the library's kputuw writes it; returns the end.
char* put_unsigned(char* p, std::uint32_t v) {
    const int n = decimal_digits(v);
    char* q = p + n;
    while (v >= 100) {
        const std::uint32_t pair = v % 100;
        v /= 100;
        q -= 2;
        std::memcpy(q, kDigitPairs.text + 2 * pair, 2);
    }
    if (v >= 10)
        std::memcpy(q - 2, kDigitPairs.text + 2 * v, 2);
    else
        q[-1] = static_cast<char>('0' + v);
    return p + n;
}

// As the library's kputw: a minus sign and the magnitude (INT32_MIN included).
char* put_signed(char* p, std::int32_t v) {
    if (v < 0) {
        *p++ = '-';
        return put_unsigned(p, 0u - static_cast<std::uint32_t>(v));
    }
    return put_unsigned(p, static_cast<std::uint32_t>(v));
}

// The library's three printf formats of floating-point values.
enum class FloatFormat { FloatTag, DoubleTag, FloatElement };

// One value in the library's own printf format (the same call, so NaN, infinities and denormals
// read as the library writes them on this platform). Null when the text is wider than the room
// the bound allows for it.
char* put_printf(char* p, FloatFormat format, double v) {
    char text[kFloatRoom];
    int n = -1;
    switch (format) {
    case FloatFormat::FloatTag:
        n = std::snprintf(text, sizeof text, "f:%g", v);
        break;
    case FloatFormat::DoubleTag:
        n = std::snprintf(text, sizeof text, "d:%lg", v);
        break;
    case FloatFormat::FloatElement:
        n = std::snprintf(text, sizeof text, "%g", v);
        break;
    }
    if (n < 0 || n >= kFloatRoom)
        return nullptr;
    std::memcpy(p, text, static_cast<std::size_t>(n));
    return p + n;
}

char* put_text(char* p, const char* text, std::size_t length) {
    std::memcpy(p, text, length);
    return p + length;
}

template <typename T> T load(const std::uint8_t* s) {
    T v;
    std::memcpy(&v, s, sizeof v);
    return v;
}

// The reference column for reference number id (known to be below the header's count).
char* put_reference(char* p, const bam_header_t* header, std::int32_t id) {
    if (header == nullptr)
        return put_signed(p, id);
    const char* name = header->target_name[id];
    return put_text(p, name, std::strlen(name));
}

std::size_t element_size(std::uint8_t subtype) {
    switch (subtype) {
    case 'c':
    case 'C':
        return 1;
    case 's':
    case 'S':
        return 2;
    case 'i':
    case 'I':
    case 'f':
        return 4;
    default:
        return 0;
    }
}

// The elements of a B array of a known subtype, each after a comma.
char* put_array(char* p, std::uint8_t subtype, const std::uint8_t* s, std::int32_t count) {
    for (std::int32_t k = 0; k < count; ++k) {
        *p++ = ',';
        switch (subtype) {
        case 'c':
            p = put_signed(p, static_cast<std::int8_t>(s[k]));
            break;
        case 'C':
            p = put_unsigned(p, s[k]);
            break;
        case 's':
            p = put_signed(p, load<std::int16_t>(s + 2 * k));
            break;
        case 'S':
            p = put_unsigned(p, load<std::uint16_t>(s + 2 * k));
            break;
        case 'i':
            p = put_signed(p, load<std::int32_t>(s + 4 * k));
            break;
        case 'I':
            p = put_unsigned(p, load<std::uint32_t>(s + 4 * k));
            break;
        default: // 'f'
            p = put_printf(p, FloatFormat::FloatElement,
                           static_cast<double>(load<float>(s + 4 * k)));
            if (p == nullptr)
                return nullptr;
            break;
        }
    }
    return p;
}

// The optional fields from s to end, each after a tab, in the library's order of cases (an
// unknown type prints its key and a colon and goes on with the byte after the type). Null where
// the library would read beyond end.
char* put_optional_fields(char* p, const std::uint8_t* s, const std::uint8_t* end) {
    while (s < end) {
        if (end - s < 3)
            return nullptr;
        const std::uint8_t type = s[2];
        *p++ = '\t';
        *p++ = static_cast<char>(s[0]);
        *p++ = static_cast<char>(s[1]);
        *p++ = ':';
        s += 3;
        const std::size_t left = static_cast<std::size_t>(end - s);
        switch (type) {
        case 'A':
            if (left < 1)
                return nullptr;
            p = put_text(p, "A:", 2);
            *p++ = static_cast<char>(*s++);
            break;
        case 'c':
        case 'C':
            if (left < 1)
                return nullptr;
            p = put_text(p, "i:", 2);
            p = type == 'c' ? put_signed(p, static_cast<std::int8_t>(*s)) : put_unsigned(p, *s);
            s += 1;
            break;
        case 's':
        case 'S':
            if (left < 2)
                return nullptr;
            p = put_text(p, "i:", 2);
            p = type == 's' ? put_signed(p, load<std::int16_t>(s))
                            : put_unsigned(p, load<std::uint16_t>(s));
            s += 2;
            break;
        case 'i':
        case 'I':
            if (left < 4)
                return nullptr;
            p = put_text(p, "i:", 2);
            p = type == 'i' ? put_signed(p, load<std::int32_t>(s))
                            : put_unsigned(p, load<std::uint32_t>(s));
            s += 4;
            break;
        case 'f':
            if (left < 4)
                return nullptr;
            p = put_printf(p, FloatFormat::FloatTag, static_cast<double>(load<float>(s)));
            s += 4;
            break;
        case 'd':
            if (left < 8)
                return nullptr;
            p = put_printf(p, FloatFormat::DoubleTag, load<double>(s));
            s += 8;
            break;
        case 'Z':
        case 'H': {
            const void* zero = std::memchr(s, 0, left);
            if (zero == nullptr)
                return nullptr;
            const std::size_t length =
                static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - s);
            *p++ = static_cast<char>(type);
            *p++ = ':';
            p = put_text(p, reinterpret_cast<const char*>(s), length);
            s += length + 1;
            break;
        }
        case 'B': {
            if (left < 5)
                return nullptr;
            const std::uint8_t subtype = s[0];
            const std::int32_t count = load<std::int32_t>(s + 1);
            s += 5;
            const std::size_t size = element_size(subtype);
            // An unknown subtype prints a comma per element and consumes none of them.
            if (count > 0 && size == 0)
                return nullptr;
            const std::size_t elements = count > 0 ? static_cast<std::size_t>(count) : 0;
            if (elements > (left - 5) / (size == 0 ? 1 : size))
                return nullptr;
            *p++ = 'B';
            *p++ = ':';
            *p++ = static_cast<char>(subtype);
            p = put_array(p, subtype, s, count);
            s += elements * size;
            break;
        }
        default:
            break;
        }
        if (p == nullptr)
            return nullptr;
    }
    return p;
}

// The layout the library reads without checks: the name, CIGAR, sequence and qualities within
// the data, references the header names, operation codes it has letters for.
bool layout_is_readable(const bam_header_t* header, const bam1_t* record) {
    const bam1_core_t& c = record->core;
    if (c.l_qname < 1 || c.l_qseq < 0 || record->data_len < 0)
        return false;
    const std::int64_t fixed = static_cast<std::int64_t>(c.l_qname) + 4 * std::int64_t{c.n_cigar} +
                               (std::int64_t{c.l_qseq} + 1) / 2 + c.l_qseq;
    if (fixed > record->data_len)
        return false;
    if (header != nullptr) {
        const std::int32_t n = header->n_targets;
        if (c.tid >= n || (c.mtid >= n && c.mtid != c.tid))
            return false;
    }
    const std::uint8_t* cigar = record->data + c.l_qname;
    for (std::uint32_t k = 0; k < c.n_cigar; ++k)
        if ((load<std::uint32_t>(cigar + 4 * k) & BAM_CIGAR_MASK) > kLastCigarCode)
            return false;
    return true;
}

std::size_t bound_of(const bam_header_t* header, const bam1_t* record) {
    const bam1_core_t& c = record->core;
    std::size_t names = 0;
    if (header != nullptr) {
        if (c.tid >= 0)
            names += std::strlen(header->target_name[c.tid]);
        if (c.mtid >= 0 && c.mtid != c.tid)
            names += std::strlen(header->target_name[c.mtid]);
    }
    const std::size_t aux = static_cast<std::size_t>(record->data_len) -
                            static_cast<std::size_t>(bam1_aux(record) - record->data);
    return kFixedRoom + names + static_cast<std::size_t>(c.l_qname) + 11 * std::size_t{c.n_cigar} +
           2 * static_cast<std::size_t>(c.l_qseq) + kRoomPerAuxByte * aux;
}

// The mandatory columns and optional fields into out (at least bound_of bytes); null where the
// library would read beyond the record.
char* put_record(const bam_header_t* header, const bam1_t* record, char* p) {
    const bam1_core_t& c = record->core;
    const std::uint8_t* data = record->data;
    p = put_text(p, reinterpret_cast<const char*>(data), static_cast<std::size_t>(c.l_qname - 1));
    *p++ = '\t';
    p = put_unsigned(p, c.flag);
    *p++ = '\t';
    if (c.tid < 0) {
        *p++ = '*';
    } else {
        p = put_reference(p, header, c.tid);
    }
    *p++ = '\t';
    // The library adds one in int; the sum wraps as two's complement would.
    p = put_signed(p, static_cast<std::int32_t>(static_cast<std::uint32_t>(c.pos) + 1u));
    *p++ = '\t';
    p = put_unsigned(p, c.qual);
    *p++ = '\t';
    if (c.n_cigar == 0) {
        *p++ = '*';
    } else {
        const std::uint8_t* cigar = data + c.l_qname;
        for (std::uint32_t k = 0; k < c.n_cigar; ++k) {
            const std::uint32_t op = load<std::uint32_t>(cigar + 4 * k);
            p = put_unsigned(p, op >> BAM_CIGAR_SHIFT);
            *p++ = kCigarLetters.text[op & BAM_CIGAR_MASK];
        }
    }
    *p++ = '\t';
    if (c.mtid < 0) {
        *p++ = '*';
    } else if (c.mtid == c.tid) {
        *p++ = '=';
    } else {
        p = put_reference(p, header, c.mtid);
    }
    *p++ = '\t';
    p = put_signed(p, static_cast<std::int32_t>(static_cast<std::uint32_t>(c.mpos) + 1u));
    *p++ = '\t';
    p = put_signed(p, c.isize);
    *p++ = '\t';
    if (c.l_qseq == 0) {
        p = put_text(p, "*\t*", 3);
    } else {
        const std::size_t length = static_cast<std::size_t>(c.l_qseq);
        const std::uint8_t* seq = bam1_seq(record);
        for (std::size_t k = 0; k < length / 2; ++k, p += 2)
            std::memcpy(p, kBasePairs.text + 2 * seq[k], 2);
        if (length % 2 != 0)
            *p++ = kBaseLetters[seq[length / 2] >> 4];
        *p++ = '\t';
        const std::uint8_t* qual = bam1_qual(record);
        if (qual[0] == 0xff) {
            *p++ = '*';
        } else {
            for (std::size_t k = 0; k < length; ++k)
                p[k] = static_cast<char>(static_cast<std::uint8_t>(qual[k] + 33));
            p += length;
        }
    }
    return put_optional_fields(p, bam1_aux(record), data + record->data_len);
}

struct MallocFree {
    void operator()(char* p) const { std::free(p); }
};

std::size_t library_text(const bam_header_t* header, const bam1_t* record, std::vector<char>& out,
                         std::size_t at) {
    std::unique_ptr<char, MallocFree> formatted(bam_format1(header, record));
    if (!formatted)
        throw std::bad_alloc();
    const std::size_t n = std::strlen(formatted.get());
    if (out.size() < at + n + 2)
        out.resize(at + n + 2);
    std::memcpy(out.data() + at, formatted.get(), n);
    return n;
}

} // namespace

bool formats_without_library(const bam_header_t* header, const bam1_t* record) {
    if (!layout_is_readable(header, record))
        return false;
    std::vector<char> scratch(bound_of(header, record) + 2);
    return put_record(header, record, scratch.data()) != nullptr;
}

std::size_t format_sam_record(const bam_header_t* header, const bam1_t* record,
                              std::vector<char>& out, std::size_t at) {
    if (!layout_is_readable(header, record))
        return library_text(header, record, out, at);
    const std::size_t bound = at + bound_of(header, record) + 2;
    if (out.size() < bound)
        out.resize(bound);
    char* begin = out.data() + at;
    const char* end = put_record(header, record, begin);
    if (end == nullptr)
        return library_text(header, record, out, at);
    std::size_t length = static_cast<std::size_t>(end - begin);
    // The library's text is read as a C text: a zero byte in a name, a quality or a field ends it.
    if (const void* zero = std::memchr(begin, 0, length))
        length = static_cast<std::size_t>(static_cast<const char*>(zero) - begin);
    return length;
}

} // namespace alignport
