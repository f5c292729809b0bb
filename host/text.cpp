// Text rules of the stand-in host: 16-bit character codes to UTF-8 and back.
#include "array_impl.h"
#include "hxhost.h"

#include <cstring>

namespace hxhost {

std::string codes_to_utf8(const haChar* codes, std::size_t count) {
    std::string out;
    out.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        const unsigned c = codes[k];
        const bool pair = c >= 0xD800 && c <= 0xDBFF && k + 1 < count && codes[k + 1] >= 0xDC00 &&
                          codes[k + 1] <= 0xDFFF;
        if (pair) { // one character beyond 16 bits: four bytes; a lone surrogate keeps three
            const unsigned cp = 0x10000 + ((c - 0xD800) << 10) + (codes[++k] - 0xDC00u);
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::vector<haChar> utf8_to_codes(const char* text, std::size_t length) {
    std::vector<haChar> codes;
    codes.reserve(length);
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    std::size_t k = 0;
    while (k < length) {
        const unsigned b = s[k];
        std::size_t extra = 0;
        unsigned cp = 0;
        unsigned min = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1, cp = b & 0x1F, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2, cp = b & 0x0F, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3, cp = b & 0x07, min = 0x10000;
        }
        bool valid = extra > 0 && k + extra < length;
        for (std::size_t j = 1; valid && j <= extra; ++j) {
            if ((s[k + j] & 0xC0) != 0x80)
                valid = false;
            cp = (cp << 6) | (s[k + j] & 0x3F);
        }
        if (valid && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (b < 0x80) {
            codes.push_back(static_cast<haChar>(b));
            ++k;
        } else if (!valid) {
            codes.push_back(static_cast<haChar>(b)); // a stray byte keeps its own code
            ++k;
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            codes.push_back(static_cast<haChar>(0xD800 | (cp >> 10)));
            codes.push_back(static_cast<haChar>(0xDC00 | (cp & 0x3FF)));
            k += extra + 1;
        } else {
            codes.push_back(static_cast<haChar>(cp));
            k += extra + 1;
        }
    }
    return codes;
}

} // namespace hxhost

extern "C" int haGetString(const haArray* a, char* buf, haSize size) {
    if (buf != nullptr && size > 0)
        buf[0] = '\0';
    if (a == nullptr || a->cls != haCHAR_CLASS || buf == nullptr || size == 0)
        return 1;
    const std::string text = hxhost::text_of(a);
    if (text.size() + 1 > size)
        return 1;
    std::memcpy(buf, text.c_str(), text.size() + 1);
    return 0;
}
