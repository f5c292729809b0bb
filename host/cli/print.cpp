// The default print of hxrun's outputs: short and readable, not exact (use --json or --npy for
// that). Texts are printed as they are; matrices row by row, cut after a screenful.
#include "cli.h"

#include <cmath>
#include <cstdio>

namespace hxrun {
namespace {

constexpr std::size_t kMaxRows = 20;
constexpr std::size_t kMaxColumns = 10;
constexpr std::size_t kMaxInline = 8;
constexpr std::size_t kMaxInlineText = 60;

template <class T> T at(const void* data, std::size_t k) {
    return static_cast<const T*>(data)[k];
}

std::string real_text(double v) {
    if (std::isnan(v))
        return "NaN";
    if (std::isinf(v))
        return v > 0 ? "Inf" : "-Inf";
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

std::string part_text(haClassID cls, const void* data, std::size_t k) {
    switch (cls) {
    case haDOUBLE_CLASS:
        return real_text(at<double>(data, k));
    case haSINGLE_CLASS:
        return real_text(at<float>(data, k));
    case haLOGICAL_CLASS:
        return at<std::uint8_t>(data, k) ? "true" : "false";
    case haINT8_CLASS:
        return std::to_string(at<std::int8_t>(data, k));
    case haUINT8_CLASS:
        return std::to_string(at<std::uint8_t>(data, k));
    case haINT16_CLASS:
        return std::to_string(at<std::int16_t>(data, k));
    case haUINT16_CLASS:
        return std::to_string(at<std::uint16_t>(data, k));
    case haINT32_CLASS:
        return std::to_string(at<std::int32_t>(data, k));
    case haUINT32_CLASS:
        return std::to_string(at<std::uint32_t>(data, k));
    case haINT64_CLASS:
        return std::to_string(at<std::int64_t>(data, k));
    case haUINT64_CLASS:
        return std::to_string(at<std::uint64_t>(data, k));
    default:
        return "?";
    }
}

std::string value_text(const haArray* a, std::size_t k) {
    std::string text = part_text(haGetClassID(a), haGetData(a), k);
    if (haIsComplex(a)) {
        const std::string imag = part_text(haGetClassID(a), hxhost::imag_data(a), k);
        text += (imag[0] == '-' ? "" : "+") + imag + "i";
    }
    return text;
}

std::string shape_text(const haArray* a) {
    std::string text =
        std::string(haIsComplex(a) ? "complex " : "") + hxhost::class_name(haGetClassID(a)) + " ";
    const std::vector<haSize> dims = hxhost::dims_of(a);
    for (std::size_t k = 0; k < dims.size(); ++k)
        text += (k ? "x" : "") + std::to_string(dims[k]);
    return text;
}

// A text on one line, control characters escaped, cut after kMaxInlineText bytes.
std::string quoted(std::string text) {
    std::string out = "\"";
    for (std::size_t k = 0; k < text.size() && k < kMaxInlineText; ++k) {
        const char c = text[k];
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (static_cast<unsigned char>(c) < 0x20)
            out += "\\x" + std::string(1, "0123456789abcdef"[c >> 4]) + "0123456789abcdef"[c & 15];
        else
            out.push_back(c);
    }
    return out + (text.size() > kMaxInlineText ? "\"..." : "\"");
}

// One line: a text quoted, a cell by its shape, numbers by their first values.
std::string inline_text(const haArray* a) {
    if (a == nullptr)
        return "(unset)";
    if (haIsChar(a))
        return shape_text(a) + " " + quoted(hxhost::text_of(a));
    const std::size_t count = haGetNumberOfElements(a);
    if (haIsCell(a) || count == 0)
        return shape_text(a);
    if (count == 1)
        return shape_text(a) + " " + value_text(a, 0);
    std::string text = shape_text(a) + " [";
    for (std::size_t k = 0; k < count && k < kMaxInline; ++k)
        text += (k ? " " : "") + value_text(a, k);
    return text + (count > kMaxInline ? " ...]" : "]");
}

void print_matrix(std::FILE* out, const haArray* a) {
    const std::size_t rows = haGetM(a);
    const std::size_t columns = haGetN(a);
    for (std::size_t r = 0; r < rows && r < kMaxRows; ++r) {
        std::string line = " ";
        for (std::size_t c = 0; c < columns && c < kMaxColumns; ++c)
            line += " " + value_text(a, c * rows + r);
        if (columns > kMaxColumns)
            line += " ... (" + std::to_string(columns) + " columns)";
        std::fprintf(out, "%s\n", line.c_str());
    }
    if (rows > kMaxRows)
        std::fprintf(out, "  ... (%zu rows)\n", rows);
}

void print_output(std::FILE* out, std::size_t number, const haArray* a) {
    if (a == nullptr) {
        std::fprintf(out, "out%zu: (unset)\n", number);
        return;
    }
    std::fprintf(out, "out%zu: %s\n", number, shape_text(a).c_str());
    if (haIsChar(a) && haGetM(a) <= 1) {
        const std::string text = hxhost::text_of(a);
        std::fwrite(text.data(), 1, text.size(), out);
        if (!text.empty() && text.back() != '\n')
            std::fputc('\n', out);
    } else if (haIsCell(a)) {
        const std::size_t count = haGetNumberOfElements(a);
        for (std::size_t k = 0; k < count && k < kMaxRows; ++k)
            std::fprintf(out, "  {%zu} %s\n", k + 1, inline_text(haGetCell(a, k)).c_str());
        if (count > kMaxRows)
            std::fprintf(out, "  ... (%zu elements)\n", count);
    } else if (haIsChar(a)) {
        std::fprintf(out, "  %s\n", quoted(hxhost::text_of(a)).c_str());
    } else {
        print_matrix(out, a);
    }
}

} // namespace

void print_outputs(std::FILE* out, const std::vector<hxhost::ArrayPtr>& outputs) {
    for (std::size_t k = 0; k < outputs.size(); ++k)
        print_output(out, k + 1, outputs[k].get());
}

} // namespace hxrun
