// Conversions between Python values and host arrays, and the process-wide host lock they run
// under. Private to the extension helixo._host.
#pragma once

#include "hxhost.h"

#include <pybind11/pybind11.h>

#include <string>

namespace helixo_python {

namespace py = pybind11;

// Thrown by to_host for a value of a type the host has no array for; the caller turns it into
// a TypeError that names the input.
class InputTypeError : public std::exception {
public:
    explicit InputTypeError(std::string what) : what_(std::move(what)) {}
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::string what_;
};

// Converts one Python value into a new host array owned by the caller (the conversion table of
// the package: str, bool, int, float, complex, numpy scalars and arrays, list/tuple, None,
// os.PathLike). Throws InputTypeError for any other type, py::error_already_set when Python
// itself raised (a RecursionError from a list that contains itself, say). Nothing built is
// left alive when it throws. Needs the GIL and the host lock.
hxhost::ArrayPtr to_host(py::handle value);

// Converts a host array into its Python value, taking ownership: numeric and logical arrays
// are handed to numpy without a copy (the ndarray's base owns the host array), everything else
// is copied and the host array freed. A null array is None. Needs the GIL and the host lock.
py::object from_host(hxhost::ArrayPtr array);

// The host keeps one state per process (the call arena, the interrupt flag, the console), so
// every use of it from Python is serialised by this lock. Order: the lock is taken without
// the GIL and the GIL re-taken after, never the other way round; code that holds the GIL only
// tries the lock (see release_array).
class HostLock {
public:
    // Waits for the lock (the caller must not hold the GIL). Throws std::runtime_error when
    // this thread already holds it (a call made from inside a console write of another call).
    HostLock();
    ~HostLock();
    HostLock(const HostLock&) = delete;
    HostLock& operator=(const HostLock&) = delete;

    // Whether the calling thread holds the lock.
    static bool held_here() noexcept;
};

// Frees an array handed to Python, from a capsule's destructor (GIL held). When the lock is
// busy the array is queued and freed by the next holder of the lock, so a collection during a
// running call neither waits for the call nor touches the host state under it.
void release_array(haArray* array) noexcept;

// Frees the queued arrays when the lock is free (or held by this thread, between calls).
void drain_released() noexcept;

} // namespace helixo_python
