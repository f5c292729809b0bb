// Errors and console output of the stand-in host.
#include "hxhost.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

bool g_capture = false;
std::string g_console;

struct Sink {
    hxhost::ConsoleSink write = nullptr;
    void* context = nullptr;
    std::size_t chunk = 0;
    std::string pending;
};
Sink g_sink;

std::string vformat(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[512];
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    if (static_cast<std::size_t>(n) < sizeof small)
        return std::string(small, static_cast<std::size_t>(n));
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    return std::string(big.data(), static_cast<std::size_t>(n));
}

} // namespace

namespace hx {

HostError::HostError(std::string identifier, std::string message)
    : identifier_(std::move(identifier)), message_(std::move(message)) {}
HostError::~HostError() = default;
const char* HostError::what() const noexcept {
    return message_.c_str();
}

} // namespace hx

namespace hxhost {

void capture_console(bool on) {
    g_capture = on;
    g_console.clear();
}

std::string take_console() {
    std::string out;
    out.swap(g_console);
    return out;
}

void set_console_sink(ConsoleSink sink, void* context, std::size_t chunk) {
    g_sink.write = sink;
    g_sink.context = context;
    g_sink.chunk = chunk;
    g_sink.pending.clear();
}

void flush_console_sink() {
    if (g_sink.write == nullptr || g_sink.pending.empty())
        return;
    std::string text;
    text.swap(g_sink.pending); // the sink may print again
    g_sink.write(g_sink.context, text.data(), text.size());
}

} // namespace hxhost

extern "C" {

void hxErrMsgIdAndTxt(const char* identifier, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string message = vformat(format, args);
    va_end(args);
    throw hx::HostError(identifier != nullptr ? identifier : "", std::move(message));
}

int hxPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = vformat(format, args);
    va_end(args);
    if (g_sink.write != nullptr) {
        g_sink.pending += text;
        if (g_sink.pending.size() >= g_sink.chunk)
            hxhost::flush_console_sink();
    } else if (g_capture) {
        g_console += text;
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    return static_cast<int>(text.size());
}

} // extern "C"
