#include "sam_line_checks.h"

#include "cigar_ops.h"

#include <cstdarg>
#include <cstdio>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>

namespace alignport {

namespace {

// The library's reader, field by field (bam_import.c, sam_read1), and what the checks guard:
//   QNAME   length + 1 stored in 8 bits
//   FLAG    strtol(base 0) into 16 bits, or else a sum of flag letters
//   POS     atoi - 1 when it starts with a digit, -1 otherwise (so does PNEXT)
//   MAPQ    atoi into 8 bits when it starts with a digit, 0 otherwise
//   CIGAR   op lengths shifted into 28 bits, op count into 16 bits; aborts on unknown ops
//   TLEN    atoi when it starts with '-' or a digit, 0 otherwise
//   SEQ     indexes a 256-entry table with a signed char
//   QUAL    each character - 33 into 8 bits; aborts when its length differs from SEQ
//   tags    i: atoll into the smallest type; f: atof; A: first character; B: element count from
//           the commas, values by strtol(base 0) written without a bound (the heap overflow)
constexpr unsigned kMandatoryFields = 11;
constexpr std::uint64_t kSaturated = std::uint64_t{1} << 62;
constexpr std::uint64_t kMaxCigarOpLength = (std::uint64_t{1} << 28) - 1;
constexpr std::uint64_t kMaxCigarOps = 65535;
constexpr std::int64_t kMaxPosition = 2147483647;

__attribute__((format(printf, 3, 4))) bool refuse(SamLineProblem* problem, unsigned column,
                                                  const char* format, ...) {
    if (problem != nullptr) {
        problem->column = column;
        va_list args;
        va_start(args, format);
        std::vsnprintf(problem->reason, sizeof problem->reason, format, args);
        va_end(args);
    }
    return false;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_printable(char c) {
    return c > ' ' && c < 0x7f;
}

// A character in a message: itself when printable, its code otherwise.
struct ShownChar {
    char text[8];
    explicit ShownChar(char c) {
        if (is_printable(c))
            std::snprintf(text, sizeof text, "'%c'", c);
        else
            std::snprintf(text, sizeof text, "0x%02x", static_cast<unsigned char>(c));
    }
};

// Decimal digits only (at least one), saturated at kSaturated.
bool parse_digits(const char* s, std::size_t n, std::uint64_t& value) {
    if (n == 0)
        return false;
    value = 0;
    // Up to 18 digits cannot pass kSaturated, so most numbers need no saturation test.
    const std::size_t exact = n < 18 ? n : 18;
    for (std::size_t k = 0; k < exact; ++k) {
        const unsigned digit = static_cast<unsigned char>(s[k]) - unsigned{'0'};
        if (digit > 9)
            return false;
        value = value * 10 + digit;
    }
    for (std::size_t k = exact; k < n; ++k) {
        if (!is_digit(s[k]))
            return false;
        value = value * 10 + static_cast<unsigned>(s[k] - '0');
        if (value > kSaturated)
            value = kSaturated;
    }
    return true;
}

// [+-]?digits; with canonical, no leading zero except for "0" itself (the library reads array
// values with base 0, which takes a leading zero as octal).
bool parse_signed(const char* s, std::size_t n, bool allow_plus, bool canonical,
                  std::int64_t& value) {
    bool negative = false;
    if (n > 0 && (s[0] == '-' || (allow_plus && s[0] == '+'))) {
        negative = s[0] == '-';
        ++s;
        --n;
    }
    if (canonical && n > 1 && s[0] == '0')
        return false;
    std::uint64_t magnitude = 0;
    if (!parse_digits(s, n, magnitude))
        return false;
    value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

bool in_range(std::int64_t value, std::int64_t low, std::int64_t high) {
    return value >= low && value <= high;
}

bool equals_ignoring_case(const char* s, std::size_t n, const char* word) {
    if (std::strlen(word) != n)
        return false;
    for (std::size_t k = 0; k < n; ++k) {
        char c = s[k];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != word[k])
            return false;
    }
    return true;
}

enum class FloatText { Valid, NotANumber, OutOfRange };

// A decimal float as strtod reads it whole ([+-]?(d+[.d*]|.d+)([eE][+-]?d+)?, or inf, infinity,
// nan), and whether its value fits a float: the library narrows strtod's double to float.
FloatText check_float(const char* s, std::size_t n) {
    std::size_t k = 0;
    if (k < n && (s[k] == '+' || s[k] == '-'))
        ++k;
    if (equals_ignoring_case(s + k, n - k, "inf") ||
        equals_ignoring_case(s + k, n - k, "infinity") || equals_ignoring_case(s + k, n - k, "nan"))
        return FloatText::Valid;
    // Decimal exponent of the first significant digit, and up to 17 significant digits.
    long long lead = 0;
    bool significant = false;
    double mantissa = 0;
    int mantissa_digits = 0;
    std::size_t int_digits = 0;
    const std::size_t int_start = k;
    while (k < n && is_digit(s[k]))
        ++k;
    int_digits = k - int_start;
    std::size_t frac_digits = 0;
    std::size_t frac_start = k;
    if (k < n && s[k] == '.') {
        frac_start = ++k;
        while (k < n && is_digit(s[k]))
            ++k;
        frac_digits = k - frac_start;
    }
    if (int_digits + frac_digits == 0)
        return FloatText::NotANumber;
    for (std::size_t d = 0; d < int_digits + frac_digits; ++d) {
        const char c = d < int_digits ? s[int_start + d] : s[frac_start + (d - int_digits)];
        if (!significant && c == '0')
            continue;
        if (!significant) {
            significant = true;
            lead = d < int_digits ? static_cast<long long>(int_digits - 1 - d)
                                  : -static_cast<long long>(d - int_digits + 1);
        }
        if (mantissa_digits < 17) {
            mantissa = mantissa * 10 + (c - '0');
            ++mantissa_digits;
        }
    }
    long long exponent = 0;
    if (k < n && (s[k] == 'e' || s[k] == 'E')) {
        ++k;
        std::int64_t e = 0;
        if (!parse_signed(s + k, n - k, true, false, e))
            return FloatText::NotANumber;
        exponent = e > 1000000 ? 1000000 : (e < -1000000 ? -1000000 : e);
        k = n;
    }
    if (k != n)
        return FloatText::NotANumber;
    if (!significant)
        return FloatText::Valid;
    const long long magnitude = lead + exponent;
    if (magnitude < 38)
        return FloatText::Valid;
    if (magnitude > 38)
        return FloatText::OutOfRange;
    // 1e38 <= value < 1e39: compare with the smallest value that rounds to infinity in a float,
    // 2^128 - 2^103.
    for (int d = mantissa_digits; d > 1; --d)
        mantissa /= 10;
    return mantissa * 1e38 >= 3.4028235677973366e38 ? FloatText::OutOfRange : FloatText::Valid;
}

// The 2-character tag of an optional field for messages: "tag NM", or "optional field 12" when
// the tag is not printable. Formatted only when a message needs it: most lines have none.
struct TagName {
    const char* field;
    unsigned column;
    mutable char buffer[32];
    TagName(const char* field_text, unsigned field_column)
        : field(field_text), column(field_column) {}
    const char* text() const {
        if (is_printable(field[0]) && is_printable(field[1]))
            std::snprintf(buffer, sizeof buffer, "tag %c%c", field[0], field[1]);
        else
            std::snprintf(buffer, sizeof buffer, "optional field %u", column);
        return buffer;
    }
};

// Bytes per array element of the library's B subtypes; 0 for an unknown subtype.
int array_element_size(char subtype, std::int64_t& low, std::int64_t& high) {
    switch (subtype) {
    case 'c':
        low = -128;
        high = 127;
        return 1;
    case 'C':
        low = 0;
        high = 255;
        return 1;
    case 's':
        low = -32768;
        high = 32767;
        return 2;
    case 'S':
        low = 0;
        high = 65535;
        return 2;
    case 'i':
        low = -2147483648LL;
        high = 2147483647;
        return 4;
    case 'I':
        low = 0;
        high = 4294967295LL;
        return 4;
    case 'f':
        low = 0;
        high = 0;
        return 4;
    default:
        return 0;
    }
}

// One B array (value = "S,v1,v2,..."). data_bytes is the record's data so far (after the tag);
// max_request the largest allocation the library makes for the record.
bool check_array(const char* value, std::size_t length, const TagName& name, unsigned column,
                 std::uint64_t& data_bytes, std::uint64_t& max_request, SamLineProblem* problem) {
    std::int64_t low = 0;
    std::int64_t high = 0;
    const int element_size = array_element_size(value[0], low, high);
    if (element_size == 0)
        return refuse(problem, column, "%s: unknown array subtype %s.", name.text(),
                      ShownChar(value[0]).text);
    if (length < 3 || value[1] != ',')
        return refuse(problem, column, "%s: array without values.", name.text());
    std::uint64_t count = 0;
    const char* end = value + length;
    for (const char* p = value + 2; p <= end;) {
        const char* comma =
            static_cast<const char*>(std::memchr(p, ',', static_cast<std::size_t>(end - p)));
        const char* stop = comma != nullptr ? comma : end;
        const std::size_t n = static_cast<std::size_t>(stop - p);
        ++count;
        if (n == 0)
            return refuse(problem, column, "%s: array value %llu is empty.", name.text(),
                          static_cast<unsigned long long>(count));
        if (value[0] == 'f') {
            const FloatText f = check_float(p, n);
            if (f == FloatText::NotANumber)
                return refuse(problem, column, "%s: array value %llu is not a number.", name.text(),
                              static_cast<unsigned long long>(count));
            if (f == FloatText::OutOfRange)
                return refuse(problem, column, "%s: array value %llu is beyond the float range.",
                              name.text(), static_cast<unsigned long long>(count));
        } else {
            std::int64_t v = 0;
            if (!parse_signed(p, n, true, true, v) || !in_range(v, low, high))
                return refuse(problem, column,
                              "%s: array value %llu is not an integer in %lld..%lld.", name.text(),
                              static_cast<unsigned long long>(count), static_cast<long long>(low),
                              static_cast<long long>(high));
        }
        if (comma == nullptr)
            break;
        p = comma + 1;
    }
    // The library asks for 6 * size * count bytes beyond the data so far, then uses 6 + size *
    // count.
    const std::uint64_t request = data_bytes + 6 * static_cast<std::uint64_t>(element_size) * count;
    if (request > max_request)
        max_request = request;
    data_bytes += 6 + static_cast<std::uint64_t>(element_size) * count;
    return true;
}

bool is_hex_digit(char c) {
    return is_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// One optional field TG:T:VALUE at the given column.
bool check_tag(const char* field, std::size_t length, unsigned column, std::uint64_t& data_bytes,
               std::uint64_t& max_request, SamLineProblem* problem) {
    if (length < 5 || field[2] != ':' || field[4] != ':')
        return refuse(problem, column, "optional field %u is not TAG:TYPE:VALUE.", column);
    const TagName name(field, column);
    if (length == 5)
        return refuse(problem, column, "%s: empty value.", name.text());
    const char type = field[3];
    const char* value = field + 5;
    const std::size_t n = length - 5;
    if (data_bytes + 3 > max_request)
        max_request = data_bytes + 3;
    data_bytes += 2;
    switch (type) {
    case 'A':
    case 'a':
    case 'c':
    case 'C':
        if (n != 1)
            return refuse(problem, column, "%s: value is not one character.", name.text());
        data_bytes += 2;
        return true;
    case 'i':
    case 'I': {
        std::int64_t v = 0;
        if (!parse_signed(value, n, true, false, v) || !in_range(v, -2147483648LL, 4294967295LL))
            return refuse(problem, column,
                          "%s: value is not an integer in -2147483648..4294967295.", name.text());
        if (v < 0)
            data_bytes += v >= -127 ? 2 : (v >= -32767 ? 3 : 5);
        else
            data_bytes += v <= 255 ? 2 : (v <= 65535 ? 3 : 5);
        return true;
    }
    case 'f': {
        const FloatText f = check_float(value, n);
        if (f == FloatText::NotANumber)
            return refuse(problem, column, "%s: value is not a number.", name.text());
        if (f == FloatText::OutOfRange)
            return refuse(problem, column, "%s: value is beyond the float range.", name.text());
        data_bytes += 5;
        return true;
    }
    case 'd':
        // The library stores a float where the type promises a double.
        return refuse(problem, column, "%s: type d is not supported.", name.text());
    case 'Z':
        data_bytes += n + 2;
        return true;
    case 'H':
        if (n % 2 != 0)
            return refuse(problem, column, "%s: hex value of odd length.", name.text());
        for (std::size_t k = 0; k < n; ++k)
            if (!is_hex_digit(value[k]))
                return refuse(problem, column, "%s: invalid hex digit.", name.text());
        data_bytes += n + 2;
        return true;
    case 'B':
        return check_array(value, n, name, column, data_bytes, max_request, problem);
    default:
        return refuse(problem, column, "%s: unknown type %s.", name.text(), ShownChar(type).text);
    }
}

struct Field {
    const char* text;
    std::size_t length;
};

const char* const kFieldNames[kMandatoryFields] = {
    "QNAME", "FLAG", "RNAME", "POS", "MAPQ", "CIGAR", "RNEXT", "PNEXT", "TLEN", "SEQ", "QUAL"};

// The flag letters of the library's table (bam_char2flag_table).
bool is_flag_letter(char c) {
    return c != '\0' && std::strchr("12PRUdfprsu", c) != nullptr;
}

bool check_flag(const Field& f) {
    std::uint64_t value = 0;
    if (f.length > 2 && f.text[0] == '0' && (f.text[1] == 'x' || f.text[1] == 'X')) {
        value = 0;
        for (std::size_t k = 2; k < f.length; ++k) {
            const char c = f.text[k];
            if (!is_hex_digit(c))
                return false;
            const unsigned digit = is_digit(c) ? static_cast<unsigned>(c - '0')
                                               : static_cast<unsigned>((c | 0x20) - 'a' + 10);
            value = value * 16 + digit;
            if (value > 65535)
                return false;
        }
        return true;
    }
    if (!(f.length > 1 && f.text[0] == '0') && parse_digits(f.text, f.length, value))
        return value <= 65535;
    for (std::size_t k = 0; k < f.length; ++k)
        if (!is_flag_letter(f.text[k]))
            return false;
    return true;
}

bool check_position(const Field& f) {
    std::uint64_t value = 0;
    return parse_digits(f.text, f.length, value) &&
           value <= static_cast<std::uint64_t>(kMaxPosition);
}

// CIGAR: "*" or length-operation pairs. Counts the operations and the query bases they cover.
bool check_cigar(const Field& f, std::uint64_t& ops, std::uint64_t& query_length,
                 SamLineProblem* problem) {
    ops = 0;
    query_length = 0;
    if (f.length == 1 && f.text[0] == '*')
        return true;
    hxb::CigarSpans spans;
    std::size_t k = 0;
    while (k < f.length) {
        std::uint64_t length = 0;
        const std::size_t start = k;
        while (k < f.length && is_digit(f.text[k]))
            ++k;
        if (k == start || k == f.length || !parse_digits(f.text + start, k - start, length))
            return refuse(problem, 6, "CIGAR is not '*' or length and operation pairs.");
        char op = f.text[k++];
        if (op >= 'a' && op <= 'z')
            op = static_cast<char>(op - 'a' + 'A');
        if (op != '=' && !(op >= 'A' && op <= 'Z'))
            return refuse(problem, 6, "CIGAR is not '*' or length and operation pairs.");
        const int code = hxb::cigar_op_code(op);
        if (code < 0)
            return refuse(problem, 6, "invalid CIGAR operation %s.", ShownChar(f.text[k - 1]).text);
        if (length > kMaxCigarOpLength)
            return refuse(problem, 6, "CIGAR operation length above %llu.",
                          static_cast<unsigned long long>(kMaxCigarOpLength));
        if (++ops > kMaxCigarOps) {
            if (problem != nullptr)
                problem->too_many_cigar_operations = true;
            return refuse(problem, 6, "CIGAR with more than %llu operations.",
                          static_cast<unsigned long long>(kMaxCigarOps));
        }
        hxb::add_cigar_op(spans, static_cast<unsigned>(code), length);
    }
    query_length = spans.query;
    return true;
}

// A byte the library's reader ends a field or a string at, other than the tab.
bool is_separator(char c) {
    return c == '\0' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The index of the first byte of [text, text + length) that is marked, or length. block_marks
// gives the marks of 16 bytes as the low 16 bits of an int (the SSE2 path), byte_marked those
// of one byte. The blocks go from the start, the last one ending at the end: the bytes it shares
// with the one before are unmarked, so its first mark is the text's first.
template <typename BlockMarks, typename ByteMarked>
std::size_t first_marked(const char* text, std::size_t length, BlockMarks block_marks,
                         ByteMarked byte_marked) {
    std::size_t k = 0;
#if defined(__SSE2__)
    if (length >= 16) {
        for (;; k += 16) {
            k = k + 16 <= length ? k : length - 16;
            const int mask =
                block_marks(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + k)));
            if (mask != 0)
                return k + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
            if (k + 16 == length)
                return length;
        }
    }
#else
    (void)block_marks;
#endif
    for (; k < length; ++k)
        if (byte_marked(text[k]))
            return k;
    return length;
}

#if defined(__SSE2__)
using Block = __m128i;
#else
using Block = int; // never used without SSE2
#endif

// The first zero, LF, VT, FF or CR, or null.
const char* find_separator(const char* text, std::size_t length) {
    const std::size_t at = first_marked(
        text, length,
        [](Block bytes) {
#if defined(__SSE2__)
            // LF to CR are 10 to 13: one range test.
            const __m128i shifted = _mm_sub_epi8(bytes, _mm_set1_epi8(10));
            const __m128i feeds = _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(3)), shifted);
            const __m128i zeros = _mm_cmpeq_epi8(bytes, _mm_setzero_si128());
            return _mm_movemask_epi8(_mm_or_si128(feeds, zeros));
#else
            return bytes;
#endif
        },
        is_separator);
    return at < length ? text + at : nullptr;
}

// Whether every byte is below 0x80 (ASCII).
bool is_ascii(const char* text, std::size_t length) {
    return first_marked(
               text, length,
               [](Block bytes) {
#if defined(__SSE2__)
                   return _mm_movemask_epi8(bytes);
#else
                   return bytes;
#endif
               },
               [](char c) { return static_cast<unsigned char>(c) >= 0x80; }) == length;
}

// Whether every byte is a quality character, '!' to '~'.
bool is_quality_text(const char* text, std::size_t length) {
    return first_marked(
               text, length,
               [](Block bytes) {
#if defined(__SSE2__)
                   // Signed bytes: those of 0x80 and above are negative, so below '!' too.
                   return _mm_movemask_epi8(
                       _mm_or_si128(_mm_cmplt_epi8(bytes, _mm_set1_epi8('!')),
                                    _mm_cmpgt_epi8(bytes, _mm_set1_epi8('~'))));
#else
                   return bytes;
#endif
               },
               [](char c) { return static_cast<unsigned char>(c - '!') > '~' - '!'; }) == length;
}

// The first tab in [p, end), or end.
const char* find_tab(const char* p, const char* end) {
    return p + first_marked(
                   p, static_cast<std::size_t>(end - p),
                   [](Block bytes) {
#if defined(__SSE2__)
                       return _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')));
#else
                       return bytes;
#endif
                   },
                   [](char c) { return c == '\t'; });
}

} // namespace

bool check_sam_line(const char* text, std::size_t length, SamLineProblem* problem) {
    // Every byte the library takes as a field separator, or as the end of a string, other than
    // the tabs between fields: it would split or cut a field silently.
    if (const char* c = find_separator(text, length); c != nullptr)
        return refuse(problem, 0, "control character 0x%02x inside the line.",
                      static_cast<unsigned>(static_cast<unsigned char>(*c)));
    Field f[kMandatoryFields];
    const char* end = text + length;
    const char* p = text;
    unsigned count = 0;
    while (count < kMandatoryFields) {
        const char* stop = find_tab(p, end);
        f[count++] = Field{p, static_cast<std::size_t>(stop - p)};
        if (stop == end)
            break;
        p = stop + 1;
    }
    if (count < kMandatoryFields)
        return refuse(problem, 0, "fewer than 11 fields.");
    const bool has_tags = f[10].text + f[10].length < end;
    for (unsigned k = 0; k < kMandatoryFields; ++k)
        if (f[k].length == 0)
            return refuse(problem, k + 1, "%s is empty.", kFieldNames[k]);

    if (f[0].length > kMaxQnameChars)
        return refuse(problem, 1, "QNAME longer than %zu characters.", kMaxQnameChars);
    if (!check_flag(f[1]))
        return refuse(problem, 2, "FLAG is not an integer in 0..65535.");
    if (!check_position(f[3]))
        return refuse(problem, 4, "POS is not an integer in 0..2147483647.");
    std::uint64_t mapq = 0;
    if (!parse_digits(f[4].text, f[4].length, mapq) || mapq > 255)
        return refuse(problem, 5, "MAPQ is not an integer in 0..255.");
    std::uint64_t ops = 0;
    std::uint64_t cigar_query = 0;
    if (!check_cigar(f[5], ops, cigar_query, problem))
        return false;
    if (!check_position(f[7]))
        return refuse(problem, 8, "PNEXT is not an integer in 0..2147483647.");
    std::int64_t tlen = 0;
    if (!parse_signed(f[8].text, f[8].length, false, false, tlen) ||
        !in_range(tlen, -2147483648LL, 2147483647LL))
        return refuse(problem, 9, "TLEN is not an integer in -2147483648..2147483647.");

    const bool has_seq = !(f[9].length == 1 && f[9].text[0] == '*');
    const std::size_t seq_length = has_seq ? f[9].length : 0;
    if (!is_ascii(f[9].text, seq_length))
        return refuse(problem, 10, "SEQ has a character outside ASCII.");
    if (has_seq && ops > 0 && cigar_query != seq_length)
        return refuse(problem, 6, "CIGAR and SEQ lengths differ.");
    const bool has_qual = !(f[10].length == 1 && f[10].text[0] == '*');
    if (has_qual) {
        if (f[10].length != seq_length)
            return refuse(problem, 11, "QUAL length differs from SEQ length.");
        if (!is_quality_text(f[10].text, f[10].length))
            return refuse(problem, 11, "QUAL has a character outside '!'..'~'.");
    }

    // The record's data as the library lays it out, and its largest allocation.
    std::uint64_t data_bytes = f[0].length + 1 + 4 * ops + seq_length + (seq_length + 1) / 2;
    std::uint64_t max_request = data_bytes;
    if (has_tags) {
        unsigned column = kMandatoryFields;
        p = f[10].text + f[10].length + 1;
        for (;;) {
            ++column;
            const char* stop = find_tab(p, end);
            if (!check_tag(p, static_cast<std::size_t>(stop - p), column, data_bytes, max_request,
                           problem))
                return false;
            if (stop == end)
                break;
            p = stop + 1;
        }
    }
    if (max_request > kMaxRecordDataBytes || data_bytes > kMaxRecordDataBytes)
        return refuse(problem, 0, "record too large for BAM.");
    return true;
}

bool SamHeaderChecker::check_line(const char* text, std::size_t length, SamLineProblem* problem) {
    if (std::memchr(text, '\0', length) != nullptr)
        return refuse(problem, 0, "character 0x00 in a header line.");
    if (std::memchr(text, '\r', length) != nullptr)
        return refuse(problem, 0, "character 0x0d in a header line.");
    if (length < 1 || text[0] != '@')
        return true;
    const char* end = text + length;
    const char* type_end = static_cast<const char*>(std::memchr(text, '\t', length));
    if (type_end == nullptr)
        type_end = end;
    // The library's header parser refuses a whole header (and so every reference in it) for a
    // line whose type is not two characters followed by exactly one tab.
    if (type_end - text != 3)
        return refuse(problem, 0, "header line type is not two characters.");
    if (type_end == end || (type_end + 1 < end && type_end[1] == '\t'))
        return refuse(problem, 0, "header line type is not followed by one tab.");
    // The library parses the fields of two-letter types other than CO as TAG:VALUE; others it
    // refuses whole (the header then has no references) or keeps as text.
    if (text[1] == 'C' && text[2] == 'O')
        return true;
    const bool sq = text[1] == 'S' && text[2] == 'Q';
    unsigned sn_count = 0;
    unsigned ln_count = 0;
    Field sn{nullptr, 0};
    Field ln{nullptr, 0};
    unsigned sn_column = 0;
    unsigned ln_column = 0;
    bool gap = false;
    unsigned column = 1;
    for (const char* p = type_end; p < end;) {
        const char* start = p + 1;
        const char* tab = static_cast<const char*>(
            std::memchr(start, '\t', static_cast<std::size_t>(end - start)));
        const char* stop = tab != nullptr ? tab : end;
        const std::size_t n = static_cast<std::size_t>(stop - start);
        ++column;
        p = stop;
        if (n == 0) {
            gap = true; // empty fields at the end of the line are harmless
            continue;
        }
        if (gap)
            return refuse(problem, column - 1, "empty field in a header line.");
        if (n < 3 || start[2] != ':')
            return refuse(problem, column, "header field is not TAG:VALUE.");
        if (sq && start[0] == 'S' && start[1] == 'N') {
            ++sn_count;
            sn = Field{start + 3, n - 3};
            sn_column = column;
        } else if (sq && start[0] == 'L' && start[1] == 'N') {
            ++ln_count;
            ln = Field{start + 3, n - 3};
            ln_column = column;
        }
    }
    if (!sq)
        return true;
    if (sn_count == 0)
        return refuse(problem, 0, "@SQ without SN.");
    if (sn_count > 1)
        return refuse(problem, 0, "@SQ with more than one SN.");
    if (ln_count == 0)
        return refuse(problem, 0, "@SQ without LN.");
    if (ln_count > 1)
        return refuse(problem, 0, "@SQ with more than one LN.");
    if (sn.length == 0)
        return refuse(problem, sn_column, "@SQ with an empty SN.");
    std::uint64_t value = 0;
    if (!parse_digits(ln.text, ln.length, value) || value < 1 || value > 2147483647)
        return refuse(problem, ln_column, "@SQ LN is not an integer in 1..2147483647.");
    if (!names_.emplace(sn.text, sn.length).second)
        return refuse(problem, sn_column, "@SQ SN repeats the name of an earlier @SQ.");
    return true;
}

} // namespace alignport
