// The JSON document of hxrun: every value exact (64-bit integers as integers, doubles in their
// shortest round-trip form), non-finite numbers as "NaN", "Inf", "-Inf", and each 16-bit
// character code as the JSON character of that code.
#include "cli.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

namespace hxrun {
namespace {

void append_utf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// A JSON string of 16-bit codes: a surrogate pair becomes its character, a lone surrogate
// stays a \uXXXX escape, so every code survives a round trip through a JSON reader.
void append_codes(std::string& out, const haChar* codes, std::size_t count) {
    out.push_back('"');
    for (std::size_t k = 0; k < count; ++k) {
        const unsigned c = codes[k];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && k + 1 < count && codes[k + 1] >= 0xDC00 && codes[k + 1] <= 0xDFFF) {
            append_utf8(out, 0x10000 + ((c - 0xD800) << 10) + (codes[++k] - 0xDC00u));
        } else if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", c);
            out += escape;
        } else {
            append_utf8(out, c);
        }
    }
    out.push_back('"');
}

// Text from the plug-in's messages, read with the host's UTF-8 rules.
void append_text(std::string& out, const std::string& utf8) {
    const std::vector<haChar> codes = hxhost::utf8_to_codes(utf8.data(), utf8.size());
    append_codes(out, codes.data(), codes.size());
}

// Shortest %g form that reads back as the same value.
template <class Real> void append_real(std::string& out, Real value) {
    if (std::isnan(value)) {
        out += "\"NaN\"";
        return;
    }
    if (std::isinf(value)) {
        out += value > 0 ? "\"Inf\"" : "\"-Inf\"";
        return;
    }
    char text[40];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*g", precision, static_cast<double>(value));
        if (static_cast<Real>(std::strtod(text, nullptr)) == value)
            break;
    }
    out += text;
}

template <class T> void append_values(std::string& out, const void* data, std::size_t count) {
    const T* values = static_cast<const T*>(data);
    out.push_back('[');
    for (std::size_t k = 0; k < count; ++k) {
        if (k != 0)
            out += ", ";
        if constexpr (std::is_floating_point_v<T>)
            append_real(out, values[k]);
        else if constexpr (std::is_signed_v<T>)
            out += std::to_string(static_cast<long long>(values[k]));
        else
            out += std::to_string(static_cast<unsigned long long>(values[k]));
    }
    out.push_back(']');
}

void append_data(std::string& out, haClassID cls, const void* data, std::size_t count) {
    switch (cls) {
    case haDOUBLE_CLASS:
        append_values<double>(out, data, count);
        break;
    case haSINGLE_CLASS:
        append_values<float>(out, data, count);
        break;
    case haINT8_CLASS:
        append_values<std::int8_t>(out, data, count);
        break;
    case haUINT8_CLASS:
        append_values<std::uint8_t>(out, data, count);
        break;
    case haINT16_CLASS:
        append_values<std::int16_t>(out, data, count);
        break;
    case haUINT16_CLASS:
        append_values<std::uint16_t>(out, data, count);
        break;
    case haINT32_CLASS:
        append_values<std::int32_t>(out, data, count);
        break;
    case haUINT32_CLASS:
        append_values<std::uint32_t>(out, data, count);
        break;
    case haINT64_CLASS:
        append_values<std::int64_t>(out, data, count);
        break;
    case haUINT64_CLASS:
        append_values<std::uint64_t>(out, data, count);
        break;
    case haLOGICAL_CLASS: {
        const auto* flags = static_cast<const std::uint8_t*>(data);
        out.push_back('[');
        for (std::size_t k = 0; k < count; ++k)
            out += std::string(k ? ", " : "") + (flags[k] ? "true" : "false");
        out.push_back(']');
        break;
    }
    default:
        out += "[]";
        break;
    }
}

void append_array(std::string& out, const haArray* a) {
    if (a == nullptr) {
        out += "null";
        return;
    }
    const haClassID cls = haGetClassID(a);
    const std::size_t count = haGetNumberOfElements(a);
    out += "{\"class\": \"";
    out += hxhost::class_name(cls);
    out += "\", \"dims\": [";
    const std::vector<haSize> dims = hxhost::dims_of(a);
    for (std::size_t k = 0; k < dims.size(); ++k)
        out += (k ? ", " : "") + std::to_string(dims[k]);
    out += "], ";
    if (cls == haCHAR_CLASS) {
        out += "\"text\": ";
        append_codes(out, static_cast<const haChar*>(haGetData(a)), count);
    } else if (cls == haCELL_CLASS) {
        out += "\"data\": [";
        for (std::size_t k = 0; k < count; ++k) {
            if (k != 0)
                out += ", ";
            append_array(out, haGetCell(a, k));
        }
        out += "]";
    } else {
        out += "\"data\": ";
        append_data(out, cls, haGetData(a), count);
        if (haIsComplex(a)) {
            out += ", \"imag\": ";
            append_data(out, cls, hxhost::imag_data(a), count);
        }
    }
    out += "}";
}

std::string count_or_null(long n) {
    return n < 0 ? "null" : std::to_string(n);
}

} // namespace

std::string json_array(const haArray* array) {
    std::string out;
    append_array(out, array);
    return out;
}

std::string json_document(const hxhost::CallResult& result, int fds_before, int fds_after) {
    std::string out = result.ok ? "{\"ok\": true, " : "{\"ok\": false, ";
    if (!result.ok) {
        out += "\"error\": {\"identifier\": ";
        append_text(out, result.identifier);
        out += ", \"message\": ";
        append_text(out, result.message);
        out += "}, ";
    }
    out += "\"outputs\": [";
    for (std::size_t k = 0; k < result.outputs.size(); ++k) {
        if (k != 0)
            out += ", ";
        append_array(out, result.outputs[k].get());
    }
    out += "], \"polls\": {\"is_pending\": " + std::to_string(result.polls.is_pending) +
           ", \"handle\": " + std::to_string(result.polls.handle) + "}";
    out += ", \"fds\": {\"before\": " + count_or_null(fds_before) +
           ", \"after\": " + count_or_null(fds_after) + "}}\n";
    return out;
}

} // namespace hxrun
