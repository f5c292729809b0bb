// Embedding API of the stand-in host: load a plug-in, build input arrays, call the entry with
// N outputs, read the outputs or the error, steer interrupts and capture console text. Used by
// hxrun and by the tests. The host operations themselves are declared in bridge/hx.h.
#pragma once

#include "hx.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace hxhost {

// Frees an array made outside a call (and, for a cell, every element it owns).
void destroy(haArray* array);
struct ArrayDeleter {
    void operator()(haArray* array) const { destroy(array); }
};
using ArrayPtr = std::unique_ptr<haArray, ArrayDeleter>;

// Arrays currently alive in the process (inputs, outputs, and anything a call leaked).
long live_arrays();

std::size_t element_size(haClassID cls);

// --- building arrays (owned by the caller) ---
ArrayPtr make_array(haClassID cls, const std::vector<haSize>& dims, bool complex = false);
ArrayPtr make_text(const std::string& utf8); // 1-by-n char row
ArrayPtr make_char(const std::vector<haChar>& codes, const std::vector<haSize>& dims);
ArrayPtr make_double(double value);
ArrayPtr make_logical(bool value);
// Numeric array from values whose C++ type has the class's element size; dims default to an
// n-by-1 column. Throws std::invalid_argument on a size mismatch.
ArrayPtr make_from_bytes(haClassID cls, const void* bytes, std::size_t count,
                         std::vector<haSize> dims);
template <class T>
ArrayPtr make_numeric(haClassID cls, const std::vector<T>& values, std::vector<haSize> dims = {}) {
    if (sizeof(T) != element_size(cls))
        throw std::invalid_argument("make_numeric: element size does not match the class");
    return make_from_bytes(cls, values.data(), values.size(), std::move(dims));
}
// 1-by-n cell that takes ownership of the elements (a null element stays unset).
ArrayPtr make_cell(std::vector<ArrayPtr> elements);
ArrayPtr make_cell_shaped(const std::vector<haSize>& dims);
// Stores value in cell element index of an array the caller owns.
void set_cell(haArray* cell, haSize index, ArrayPtr value);

// --- reading arrays ---
const char* class_name(haClassID cls);
bool class_from_name(const std::string& name, haClassID& cls); // numeric and logical classes
std::vector<haSize> dims_of(const haArray* array);
std::string text_of(const haArray* array);   // UTF-8 of a char array's codes
const void* imag_data(const haArray* array); // null when real
template <class T> std::vector<T> values_of(const haArray* array) {
    const T* data = static_cast<const T*>(haGetData(array));
    return std::vector<T>(data, data + haGetNumberOfElements(array));
}

// UTF-8 conversions with the host's rules: codes become UTF-8 (ASCII one byte); a byte that
// is not valid UTF-8 becomes the character with that byte's code.
std::string codes_to_utf8(const haChar* codes, std::size_t count);
std::vector<haChar> utf8_to_codes(const char* text, std::size_t length);

// --- calling ---
struct PollCounts {
    long is_pending = 0;
    long handle = 0;
};

struct CallOptions {
    long interrupt_at = 0; // >0: the stop request appears at poll number K (1-based, both kinds)
};

struct CallResult {
    bool ok = false;
    std::string identifier; // set when !ok
    std::string message;
    std::vector<ArrayPtr> outputs; // outCount entries; null where the plug-in left a slot unset
    PollCounts polls;
    bool foreign_exception = false; // a non-host exception escaped the plug-in (a defect)
};

typedef void (*EntryPoint)(int, haArray*[], int, const haArray*[]);

class Plugin {
public:
    // Loads the shared library at path; throws std::runtime_error with the loader's message.
    explicit Plugin(const std::string& path);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Calls hxFunction with the inputs and outCount outputs. Arrays created during the call and
    // not stored in an output slot below outCount are freed when it ends, whatever the outcome.
    CallResult call(int outCount, const std::vector<const haArray*>& inputs,
                    const CallOptions& options = {}) const;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    void* handle_ = nullptr;
    EntryPoint entry_ = nullptr;
};

// --- interrupts ---
// Sets the pending stop request (async-signal-safe; what a SIGINT handler calls).
void request_interrupt() noexcept;
bool interrupt_pending() noexcept;
void clear_interrupt() noexcept;
// Installs a SIGINT handler that calls request_interrupt().
void install_sigint_handler();

// --- console ---
// While capturing, hxPrintf appends to a buffer instead of writing to standard output.
void capture_console(bool on);
std::string take_console();

// A console sink takes the text of hxPrintf instead of standard output or the capture buffer:
// text is collected and handed over whenever at least chunk bytes are waiting (so a long dump
// stays in bounded memory), and what is left when flush_console_sink() is called. The sink
// runs inside hxPrintf, in the plug-in's frames: it must not throw. A null sink removes it
// (without flushing).
typedef void (*ConsoleSink)(void* context, const char* text, std::size_t size) noexcept;
void set_console_sink(ConsoleSink sink, void* context, std::size_t chunk);
void flush_console_sink();

// Open file descriptors of this process, or -1 where the platform cannot tell.
int open_fd_count();

} // namespace hxhost
