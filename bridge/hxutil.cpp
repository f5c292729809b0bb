#include "hxutil.h"

#include <cmath>
#include <cstddef>
#include <exception>
#include <limits>

namespace hxb {

void raise(const char* identifier, const char* message) {
    hxErrMsgIdAndTxt(identifier, "%s", message);
}

void raise(const std::string& identifier, const std::string& message) {
    hxErrMsgIdAndTxt(identifier.c_str(), "%s", message.c_str());
}

bool read_text(const haArray* array, char* buf, std::size_t size) {
    if (array == nullptr || !haIsChar(array))
        return false;
    return haGetString(array, buf, size) == 0;
}

std::int32_t read_int32(const haArray* array) {
    const double value = std::trunc(haGetScalar(array));
    if (std::isnan(value) ||
        value < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
        value > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return -1;
    return static_cast<std::int32_t>(value);
}

bool read_flag_nonzero(const haArray* array) {
    const double value = haGetScalar(array);
    return std::isnan(value) || value != 0.0;
}

std::uint8_t read_flag_low8(const haArray* array) {
    const double value = std::trunc(haGetScalar(array));
    if (!std::isfinite(value))
        return 0;
    double low = std::fmod(value, 256.0);
    if (low < 0)
        low += 256.0;
    return static_cast<std::uint8_t>(low);
}

namespace {

// "helixo:" + plugin + ":" + kind into a fixed buffer (a plug-in name that does not fit is cut),
// so that no path of the firewall allocates: after a std::bad_alloc a second one would escape.
void compose_identifier(char (&out)[kIdentifierBuffer], const char* plugin,
                        const char* kind) noexcept {
    std::size_t n = 0;
    for (const char* part : {"helixo:", plugin != nullptr ? plugin : "", ":", kind})
        for (; *part != '\0' && n + 1 < sizeof out; ++part)
            out[n++] = *part;
    out[n] = '\0';
}

// text into out, each "{}" replaced by the next of numbers; cut to fit, zero-terminated.
void fill_numbers(char (&out)[kMessageBuffer], const char* text,
                  std::initializer_list<std::uint64_t> numbers) noexcept {
    std::size_t n = 0;
    auto put = [&](char c) {
        if (n + 1 < sizeof out)
            out[n++] = c;
    };
    const std::uint64_t* next = numbers.begin();
    for (const char* at = text; *at != '\0'; ++at) {
        if (at[0] != '{' || at[1] != '}' || next == numbers.end()) {
            put(*at);
            continue;
        }
        char digits[20];
        std::size_t count = 0;
        for (std::uint64_t value = *next++; count == 0 || value != 0; value /= 10)
            digits[count++] = static_cast<char>('0' + value % 10);
        while (count > 0)
            put(digits[--count]);
        ++at;
    }
    out[n] = '\0';
}

} // namespace

void raise_error_row(const char* plugin, const char* name, const char* text,
                     std::initializer_list<std::uint64_t> numbers) {
    char identifier[kIdentifierBuffer];
    compose_identifier(identifier, plugin, name);
    char message[kMessageBuffer];
    fill_numbers(message, text != nullptr ? text : "", numbers);
    hxErrMsgIdAndTxt(identifier, "%s", message);
}

void rethrow_as_host_error(const char* plugin) {
    char identifier[kIdentifierBuffer];
    try {
        throw;
    } catch (const std::bad_alloc&) {
        compose_identifier(identifier, plugin, "OutOfMemory");
        hxErrMsgIdAndTxt(identifier, "%s", "Out of memory.");
    } catch (const std::exception& e) {
        compose_identifier(identifier, plugin, "InternalError");
        const char* what = e.what();
        hxErrMsgIdAndTxt(identifier, "Internal error: %s", what != nullptr ? what : "");
    } catch (...) {
        compose_identifier(identifier, plugin, "InternalError");
        hxErrMsgIdAndTxt(identifier, "%s", "Internal error: unknown exception.");
    }
}

} // namespace hxb
