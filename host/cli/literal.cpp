// Command-line literals of hxrun. A word is typed only when the text before its first colon is
// exactly a reserved prefix (str, cell, complex or a class name) or when it is CLASS@PATH;
// anything else is text, so "chr1:100-200" stays a region name.
#include "cli.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace hxrun {
namespace {

constexpr int kMaxCellDepth = 64; // deeper nesting is a typing mistake, not data

// One listed value, kept exact until the target class is known (int64 and uint64 need it).
struct Number {
    enum Kind { Signed, Unsigned, Real } kind = Real;
    std::int64_t s = 0;
    std::uint64_t u = 0;
    double d = 0;
};

std::string trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool all_digits(const std::string& s, std::size_t from = 0) {
    if (from >= s.size())
        return false;
    for (std::size_t k = from; k < s.size(); ++k) {
        if (s[k] < '0' || s[k] > '9')
            return false;
    }
    return true;
}

// Decimal number: [+-] digits [. digits] [e [+-] digits], or [+-] . digits [...].
bool is_decimal(const std::string& s) {
    std::size_t k = (s[0] == '+' || s[0] == '-') ? 1 : 0;
    std::size_t digits = 0;
    while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k])))
        ++k, ++digits;
    if (k < s.size() && s[k] == '.') {
        ++k;
        while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k])))
            ++k, ++digits;
    }
    if (digits == 0)
        return false;
    if (k < s.size() && (s[k] == 'e' || s[k] == 'E')) {
        ++k;
        if (k < s.size() && (s[k] == '+' || s[k] == '-'))
            ++k;
        if (!all_digits(s.substr(k)))
            return false;
        k = s.size();
    }
    return k == s.size();
}

Number parse_number(const std::string& raw) {
    const std::string token = trim(raw);
    if (token.empty())
        throw UsageError("a value is missing");
    const std::string word = lower(token);
    Number n;
    if (word == "nan" || word == "+nan" || word == "-nan") {
        n.d = std::numeric_limits<double>::quiet_NaN();
    } else if (word == "inf" || word == "+inf" || word == "-inf") {
        n.d = word[0] == '-' ? -HUGE_VAL : HUGE_VAL;
    } else if (word == "true" || word == "false") {
        n.kind = Number::Signed;
        n.s = word == "true" ? 1 : 0;
    } else if (all_digits(token, token[0] == '+' || token[0] == '-' ? 1 : 0)) {
        errno = 0;
        n.s = std::strtoll(token.c_str(), nullptr, 10);
        n.kind = Number::Signed;
        if (errno == ERANGE && token[0] != '-') {
            errno = 0;
            n.u = std::strtoull(token.c_str(), nullptr, 10);
            n.kind = Number::Unsigned;
        }
        if (errno == ERANGE) { // beyond 64 bits: a cast saturates it anyway
            n.kind = Number::Real;
            n.d = std::strtod(token.c_str(), nullptr);
        }
    } else if (is_decimal(token)) {
        n.d = std::strtod(token.c_str(), nullptr);
    } else {
        throw UsageError("'" + token + "' is not a number");
    }
    return n;
}

double as_double(const Number& n) {
    switch (n.kind) {
    case Number::Signed:
        return static_cast<double>(n.s);
    case Number::Unsigned:
        return static_cast<double>(n.u);
    default:
        return n.d;
    }
}

// Integer conversion as the host's cast does it: round half away from zero, saturate, NaN to 0.
template <class T> T to_integer(const Number& n) {
    using Limits = std::numeric_limits<T>;
    switch (n.kind) {
    case Number::Signed:
        if (n.s < 0)
            return n.s < static_cast<std::int64_t>(Limits::min()) ? Limits::min()
                                                                  : static_cast<T>(n.s);
        return static_cast<std::uint64_t>(n.s) > static_cast<std::uint64_t>(Limits::max())
                   ? Limits::max()
                   : static_cast<T>(n.s);
    case Number::Unsigned:
        return n.u > static_cast<std::uint64_t>(Limits::max()) ? Limits::max()
                                                               : static_cast<T>(n.u);
    default: {
        if (std::isnan(n.d))
            return 0;
        const double r = std::round(n.d);
        if (r <= static_cast<double>(Limits::min()))
            return Limits::min();
        if (r >= static_cast<double>(Limits::max())) // max rounds up to a power of two here
            return Limits::max();
        return static_cast<T>(r);
    }
    }
}

float to_single(const Number& n) {
    const double d = as_double(n);
    if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
        return d > 0 ? HUGE_VALF : -HUGE_VALF;
    return static_cast<float>(d);
}

std::uint8_t to_logical(const Number& n) {
    const double d = as_double(n);
    if (std::isnan(d))
        throw UsageError("NaN cannot be converted to logical");
    return d != 0 ? 1 : 0;
}

template <class T, class Convert>
void store(haArray* a, const std::vector<Number>& values, Convert convert) {
    auto* data = static_cast<T*>(haGetData(a));
    for (std::size_t k = 0; k < values.size(); ++k)
        data[k] = convert(values[k]);
}

void fill(haArray* a, const std::vector<Number>& v) {
    switch (haGetClassID(a)) {
    case haDOUBLE_CLASS:
        store<double>(a, v, as_double);
        break;
    case haSINGLE_CLASS:
        store<float>(a, v, to_single);
        break;
    case haLOGICAL_CLASS:
        store<std::uint8_t>(a, v, to_logical);
        break;
    case haINT8_CLASS:
        store<std::int8_t>(a, v, to_integer<std::int8_t>);
        break;
    case haUINT8_CLASS:
        store<std::uint8_t>(a, v, to_integer<std::uint8_t>);
        break;
    case haINT16_CLASS:
        store<std::int16_t>(a, v, to_integer<std::int16_t>);
        break;
    case haUINT16_CLASS:
        store<std::uint16_t>(a, v, to_integer<std::uint16_t>);
        break;
    case haINT32_CLASS:
        store<std::int32_t>(a, v, to_integer<std::int32_t>);
        break;
    case haUINT32_CLASS:
        store<std::uint32_t>(a, v, to_integer<std::uint32_t>);
        break;
    case haINT64_CLASS:
        store<std::int64_t>(a, v, to_integer<std::int64_t>);
        break;
    case haUINT64_CLASS:
        store<std::uint64_t>(a, v, to_integer<std::uint64_t>);
        break;
    default:
        throw UsageError("not a numeric class");
    }
}

// "/RxC" or "/RxCxP": trailing singleton dimensions beyond the second are dropped, as the host
// does for its own arrays.
std::vector<haSize> parse_shape(const std::string& text) {
    std::vector<haSize> dims;
    std::size_t from = 0;
    for (;;) {
        const std::size_t x = text.find('x', from);
        const std::string part = text.substr(from, x == std::string::npos ? x : x - from);
        errno = 0;
        const unsigned long long d = std::strtoull(part.c_str(), nullptr, 10);
        if (!all_digits(part) || errno == ERANGE)
            throw UsageError("shape '/" + text + "' is not RxC or RxCxP with whole numbers");
        dims.push_back(static_cast<haSize>(d));
        if (x == std::string::npos)
            break;
        from = x + 1;
    }
    if (dims.size() < 2 || dims.size() > 3)
        throw UsageError("shape '/" + text + "' is not RxC or RxCxP");
    while (dims.size() > 2 && dims.back() == 1)
        dims.pop_back();
    return dims;
}

// Product of dims, or false when it does not fit a size (only possible without a zero).
bool element_count(const std::vector<haSize>& dims, haSize& count) {
    count = 1;
    bool overflow = false;
    for (haSize d : dims) {
        if (d == 0) {
            count = 0;
            return true;
        }
        if (count > std::numeric_limits<haSize>::max() / d)
            overflow = true;
        else
            count *= d;
    }
    return !overflow;
}

// A scalar, a bracketed matrix ("[1,2;3,4]" lists rows, ";" separates them) or "[]", with an
// optional shape suffix; values end up in column order.
hxhost::ArrayPtr parse_values(haClassID cls, const std::string& text) {
    std::string body = text;
    std::vector<haSize> shape;
    const std::size_t slash = text.rfind('/');
    if (slash != std::string::npos) {
        shape = parse_shape(text.substr(slash + 1));
        body = text.substr(0, slash);
    }
    body = trim(body);
    std::vector<Number> values;
    std::vector<haSize> dims{1, 1};
    if (body.empty()) {
        throw UsageError("no value given (write [] for an empty array)");
    } else if (body.front() == '[') {
        if (body.back() != ']' || body.size() < 2)
            throw UsageError("'" + body + "' has no closing ']'");
        const std::string inner = trim(body.substr(1, body.size() - 2));
        std::vector<std::vector<Number>> rows;
        for (std::size_t from = 0; !inner.empty() && from <= inner.size();) {
            std::size_t end = inner.find(';', from);
            if (end == std::string::npos)
                end = inner.size();
            const std::string row = inner.substr(from, end - from);
            rows.emplace_back();
            for (std::size_t at = 0; at <= row.size();) {
                std::size_t comma = row.find(',', at);
                if (comma == std::string::npos)
                    comma = row.size();
                rows.back().push_back(parse_number(row.substr(at, comma - at)));
                at = comma + 1;
            }
            if (rows.back().size() != rows.front().size())
                throw UsageError("rows of '" + body + "' differ in length");
            from = end + 1;
        }
        const std::size_t columns = rows.empty() ? 0 : rows.front().size();
        dims = {rows.size(), columns};
        for (std::size_t c = 0; c < columns; ++c) {
            for (const auto& row : rows)
                values.push_back(row[c]);
        }
    } else {
        values.push_back(parse_number(body));
    }
    if (!shape.empty()) {
        haSize count = 0;
        if (!element_count(shape, count) || count != values.size())
            throw UsageError("shape '/" + text.substr(slash + 1) + "' does not hold the " +
                             std::to_string(values.size()) + " values listed");
        dims = shape;
    }
    hxhost::ArrayPtr a = hxhost::make_array(cls, dims);
    fill(a.get(), values);
    return a;
}

hxhost::ArrayPtr read_column(haClassID cls, const std::string& path) {
    if (path.empty())
        throw UsageError("no file name after '@'");
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".npy") == 0)
        return read_npy(path, cls);
    const std::string bytes = read_input_file(path);
    const std::size_t size = hxhost::element_size(cls);
    if (bytes.size() % size != 0)
        throw UsageError("'" + path + "' holds " + std::to_string(bytes.size()) +
                         " bytes, not a whole number of " + std::to_string(size) + "-byte values");
    hxhost::ArrayPtr a = hxhost::make_from_bytes(cls, bytes.data(), bytes.size() / size, {});
    if (cls == haLOGICAL_CLASS) {
        auto* data = static_cast<std::uint8_t*>(haGetData(a.get()));
        for (std::size_t k = 0; k < bytes.size(); ++k)
            data[k] = data[k] != 0;
    }
    return a;
}

} // namespace

std::string read_input_file(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        throw UsageError("cannot open '" + path + "': " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        throw UsageError("'" + path + "' is not a file");
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr)
        throw UsageError("cannot open '" + path + "': " + std::strerror(errno));
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    const std::size_t got = std::fread(&bytes[0], 1, bytes.size(), in);
    const bool failed = got != bytes.size() || std::ferror(in) != 0;
    std::fclose(in);
    if (failed)
        throw UsageError("cannot read '" + path + "'");
    return bytes;
}

namespace {

// CLASS:VALUES or CLASS@PATH; false when the word is neither.
bool parse_numeric(const std::string& word, hxhost::ArrayPtr& out) {
    haClassID cls;
    const std::size_t at = word.find('@');
    if (at != std::string::npos && hxhost::class_from_name(word.substr(0, at), cls)) {
        out = read_column(cls, word.substr(at + 1));
        return true;
    }
    const std::size_t colon = word.find(':');
    if (colon != std::string::npos && hxhost::class_from_name(word.substr(0, colon), cls)) {
        out = parse_values(cls, word.substr(colon + 1));
        return true;
    }
    return false;
}

// The numeric word made complex, with zero imaginary parts.
hxhost::ArrayPtr parse_complex(const std::string& word) {
    hxhost::ArrayPtr real;
    if (!parse_numeric(word, real))
        throw UsageError("complex: must be followed by CLASS:VALUES or CLASS@PATH");
    const haClassID cls = haGetClassID(real.get());
    if (cls == haLOGICAL_CLASS)
        throw UsageError("a logical array cannot be complex");
    hxhost::ArrayPtr z = hxhost::make_array(cls, hxhost::dims_of(real.get()), true);
    const std::size_t bytes = haGetNumberOfElements(real.get()) * hxhost::element_size(cls);
    if (bytes != 0)
        std::memcpy(haGetData(z.get()), haGetData(real.get()), bytes);
    return z;
}

hxhost::ArrayPtr parse_word(const std::string& word, int depth);

// "{E1,E2,...}": split on the commas outside brackets and braces; each element is a word.
hxhost::ArrayPtr parse_cell(const std::string& text, int depth) {
    if (depth >= kMaxCellDepth)
        throw UsageError("cells nested more than " + std::to_string(kMaxCellDepth) + " deep");
    if (text.size() < 2 || text.front() != '{' || text.back() != '}')
        throw UsageError("a cell is written cell:{E1,E2,...}");
    const std::string inner = text.substr(1, text.size() - 2);
    std::vector<hxhost::ArrayPtr> elements;
    std::string open; // the brackets and braces not closed yet
    std::size_t from = 0;
    for (std::size_t k = 0; k <= inner.size(); ++k) {
        const char c = k < inner.size() ? inner[k] : ',';
        if (c == '[' || c == '{') {
            open.push_back(c);
        } else if (c == ']' || c == '}') {
            if (open.empty() || open.back() != (c == ']' ? '[' : '{'))
                throw UsageError("unmatched '" + std::string(1, c) + "' in cell " + text);
            open.pop_back();
        } else if (c == ',' && open.empty()) {
            if (k == inner.size() && elements.empty() && inner.empty())
                break; // cell:{} is empty
            elements.push_back(parse_word(inner.substr(from, k - from), depth + 1));
            from = k + 1;
        }
    }
    if (!open.empty())
        throw UsageError("unclosed '" + open.substr(open.size() - 1) + "' in cell " + text);
    if (elements.empty())
        return hxhost::make_cell_shaped({0, 0});
    return hxhost::make_cell(std::move(elements));
}

hxhost::ArrayPtr parse_word(const std::string& word, int depth) {
    hxhost::ArrayPtr out;
    if (parse_numeric(word, out))
        return out;
    const std::size_t colon = word.find(':');
    if (colon == std::string::npos)
        return hxhost::make_text(word);
    const std::string prefix = word.substr(0, colon);
    const std::string rest = word.substr(colon + 1);
    if (prefix == "str")
        return rest.empty() ? hxhost::make_char({}, {0, 0}) : hxhost::make_text(rest);
    if (prefix == "cell")
        return parse_cell(rest, depth);
    if (prefix == "complex")
        return parse_complex(rest);
    return hxhost::make_text(word);
}

} // namespace

hxhost::ArrayPtr parse_literal(const std::string& word) {
    return parse_word(word, 0);
}

} // namespace hxrun
