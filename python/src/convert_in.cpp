// Python values to host arrays: one copy into the host's column-major storage, no Python call
// per element.
#include "convert.h"

#include <pybind11/numpy.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace helixo_python {

namespace {

struct RecursionGuard {
    RecursionGuard() {
        if (Py_EnterRecursiveCall(" while converting a list or tuple to a host cell") != 0)
            throw py::error_already_set();
    }
    ~RecursionGuard() { Py_LeaveRecursiveCall(); }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
};

std::string type_name(py::handle value) {
    return Py_TYPE(value.ptr())->tp_name;
}

// numpy.generic, looked up once; kept for the life of the process (never released, so no
// destructor runs after the interpreter is gone).
PyObject* numpy_generic() {
    static PyObject* generic =
        py::object(py::module_::import("numpy").attr("generic")).release().ptr();
    return generic;
}

struct ElementClass {
    haClassID cls = haUNKNOWN_CLASS;
    bool complex = false;
};

// The host class of a numpy dtype, or haUNKNOWN_CLASS for a dtype the host has no class for.
ElementClass class_of(const py::dtype& dtype) {
    const char kind = dtype.kind();
    const py::ssize_t size = dtype.itemsize();
    static const haClassID kSigned[] = {haINT8_CLASS,    haINT16_CLASS,   haUNKNOWN_CLASS,
                                        haINT32_CLASS,   haUNKNOWN_CLASS, haUNKNOWN_CLASS,
                                        haUNKNOWN_CLASS, haINT64_CLASS};
    static const haClassID kUnsigned[] = {haUINT8_CLASS,   haUINT16_CLASS,  haUNKNOWN_CLASS,
                                          haUINT32_CLASS,  haUNKNOWN_CLASS, haUNKNOWN_CLASS,
                                          haUNKNOWN_CLASS, haUINT64_CLASS};
    if (kind == 'b' && size == 1)
        return {haLOGICAL_CLASS, false};
    if ((kind == 'i' || kind == 'u') && size >= 1 && size <= 8)
        return {(kind == 'i' ? kSigned : kUnsigned)[size - 1], false};
    if (kind == 'f' && (size == 4 || size == 8))
        return {size == 8 ? haDOUBLE_CLASS : haSINGLE_CLASS, false};
    if (kind == 'c' && (size == 8 || size == 16))
        return {size == 16 ? haDOUBLE_CLASS : haSINGLE_CLASS, true};
    return {};
}

bool byte_swapped(const py::dtype& dtype) {
    const char order = dtype.byteorder();
    const std::uint16_t probe = 1;
    unsigned char first = 0;
    std::memcpy(&first, &probe, 1);
    const bool little = first == 1;
    return (order == '>' && little) || (order == '<' && !little);
}

// Copies one part (the whole element, or the real or imaginary half of a complex one) of every
// element of a strided array into contiguous column-major storage: dimension 0 varies fastest.
void copy_part(const char* base, const std::vector<py::ssize_t>& shape,
               const std::vector<py::ssize_t>& strides, std::size_t part_size,
               std::size_t part_offset, bool swap, bool logical, std::uint8_t* out) {
    std::size_t count = 1;
    for (py::ssize_t extent : shape)
        count *= static_cast<std::size_t>(extent);
    if (count == 0)
        return;
    const std::size_t dims = shape.size();
    std::vector<py::ssize_t> index(dims, 0);
    const bool contiguous_run =
        !swap && !logical && strides[0] == static_cast<py::ssize_t>(part_size) && part_offset == 0;
    const char* column = base;
    std::uint8_t* target = out;
    for (;;) {
        if (contiguous_run) {
            const std::size_t bytes = static_cast<std::size_t>(shape[0]) * part_size;
            std::memcpy(target, column, bytes);
            target += bytes;
        } else {
            const char* source = column + part_offset;
            for (py::ssize_t i = 0; i < shape[0]; ++i, source += strides[0], target += part_size) {
                if (logical) {
                    *target = *source != 0 ? 1 : 0;
                    continue;
                }
                std::memcpy(target, source, part_size);
                if (swap)
                    std::reverse(target, target + part_size);
            }
        }
        std::size_t d = 1;
        for (; d < dims; ++d) {
            column += strides[d];
            if (++index[d] < shape[d])
                break;
            column -= strides[d] * shape[d];
            index[d] = 0;
        }
        if (d == dims)
            return;
    }
}

hxhost::ArrayPtr from_ndarray(const py::array& array) {
    const py::dtype dtype = array.dtype();
    const ElementClass ec = class_of(dtype);
    if (ec.cls == haUNKNOWN_CLASS)
        throw InputTypeError("numpy dtype " + py::str(py::handle(dtype.ptr())).cast<std::string>() +
                             " has no host class (bool, float64, float32, int8 to uint64, "
                             "complex128 and complex64 have)");
    std::vector<py::ssize_t> shape(array.shape(), array.shape() + array.ndim());
    std::vector<py::ssize_t> strides(array.strides(), array.strides() + array.ndim());
    if (shape.empty()) { // 0-d: one element
        shape = {1};
        strides = {0};
    }
    std::vector<haSize> dims(shape.begin(), shape.end());
    if (dims.size() == 1) { // a vector of n is an n-by-1 column
        dims.push_back(1);
    }
    hxhost::ArrayPtr out = hxhost::make_array(ec.cls, dims, ec.complex);
    const std::size_t part = static_cast<std::size_t>(dtype.itemsize()) / (ec.complex ? 2 : 1);
    const bool swap = byte_swapped(dtype);
    const char* base = static_cast<const char*>(array.data());
    auto* real = static_cast<std::uint8_t*>(haGetData(out.get()));
    copy_part(base, shape, strides, part, 0, swap, ec.cls == haLOGICAL_CLASS, real);
    if (ec.complex) {
        auto* imag = static_cast<std::uint8_t*>(const_cast<void*>(hxhost::imag_data(out.get())));
        copy_part(base, shape, strides, part, part, swap, false, imag);
    }
    return out;
}

// Text: UTF-8 with the host's rules. A str that has no UTF-8 form (a lone surrogate, as
// os.fsdecode makes from undecodable bytes) keeps its code points as 16-bit codes, which is
// what the host's char arrays hold and what the output side gives back for such codes.
hxhost::ArrayPtr from_str(py::handle value) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
    std::vector<haChar> codes;
    if (utf8 != nullptr) {
        codes = hxhost::utf8_to_codes(utf8, static_cast<std::size_t>(size));
    } else {
        PyErr_Clear();
        const Py_ssize_t length = PyUnicode_GetLength(value.ptr());
        for (Py_ssize_t k = 0; k < length; ++k) {
            const Py_UCS4 c = PyUnicode_ReadChar(value.ptr(), k);
            if (c < 0x10000) {
                codes.push_back(static_cast<haChar>(c));
            } else {
                codes.push_back(static_cast<haChar>(0xD800 | ((c - 0x10000) >> 10)));
                codes.push_back(static_cast<haChar>(0xDC00 | ((c - 0x10000) & 0x3FF)));
            }
        }
    }
    if (codes.empty())
        return hxhost::make_char({}, {0, 0});
    return hxhost::make_char(codes, {1, codes.size()});
}

// A Python int as a double of its value, as the host's own literals are read: the nearest
// double, and an infinity of its sign beyond the double range.
double int_as_double(py::handle value) {
    const double d = PyLong_AsDouble(value.ptr());
    if (d == -1.0 && PyErr_Occurred() != nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError))
            throw py::error_already_set();
        PyErr_Clear();
        const int negative = PyObject_RichCompareBool(value.ptr(), py::int_(0).ptr(), Py_LT);
        if (negative < 0)
            throw py::error_already_set();
        return negative != 0 ? -std::numeric_limits<double>::infinity()
                             : std::numeric_limits<double>::infinity();
    }
    return d;
}

hxhost::ArrayPtr complex_scalar(double re, double im) {
    hxhost::ArrayPtr out = hxhost::make_array(haDOUBLE_CLASS, {1, 1}, true);
    std::memcpy(haGetData(out.get()), &re, sizeof re);
    std::memcpy(const_cast<void*>(hxhost::imag_data(out.get())), &im, sizeof im);
    return out;
}

hxhost::ArrayPtr from_sequence(py::handle value) {
    RecursionGuard guard;
    const py::sequence items = py::reinterpret_borrow<py::sequence>(value);
    const std::size_t n = static_cast<std::size_t>(py::len(items));
    hxhost::ArrayPtr cell = hxhost::make_cell_shaped({1, n});
    for (std::size_t k = 0; k < n; ++k) {
        try {
            hxhost::set_cell(cell.get(), k, to_host(items[k]));
        } catch (const InputTypeError& e) {
            throw InputTypeError("element " + std::to_string(k + 1) + " of the " +
                                 type_name(value) + ": " + e.what());
        }
    }
    return cell;
}

bool is_path_like(py::handle value) {
    return PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value.ptr())),
                                  "__fspath__") != 0;
}

} // namespace

hxhost::ArrayPtr to_host(py::handle value) {
    PyObject* v = value.ptr();
    if (v == Py_None)
        return hxhost::make_array(haDOUBLE_CLASS, {0, 0});
    if (PyBool_Check(v))
        return hxhost::make_logical(v == Py_True);
    if (PyUnicode_Check(v)) // numpy.str_ included: it is a str
        return from_str(value);
    if (PyBytes_Check(v) || PyByteArray_Check(v))
        throw InputTypeError(type_name(value) + " has no host array (text is a str)");
    if (py::isinstance<py::array>(value))
        return from_ndarray(py::reinterpret_borrow<py::array>(value));
    const int generic = PyObject_IsInstance(v, numpy_generic());
    if (generic < 0)
        throw py::error_already_set();
    if (generic != 0) // a numpy scalar: its class, through a 0-d array
        return from_ndarray(py::array::ensure(value));
    if (PyLong_Check(v))
        return hxhost::make_double(int_as_double(value));
    if (PyFloat_Check(v))
        return hxhost::make_double(PyFloat_AsDouble(v));
    if (PyComplex_Check(v))
        return complex_scalar(PyComplex_RealAsDouble(v), PyComplex_ImagAsDouble(v));
    if (PyList_Check(v) || PyTuple_Check(v))
        return from_sequence(value);
    if (is_path_like(value)) {
        const py::object path = py::reinterpret_steal<py::object>(PyOS_FSPath(v));
        if (!path)
            throw py::error_already_set();
        if (!PyUnicode_Check(path.ptr()))
            throw InputTypeError("the path " + py::repr(value).cast<std::string>() +
                                 " is bytes (a file name is a str)");
        return from_str(path);
    }
    throw InputTypeError(type_name(value) + " has no host array");
}

} // namespace helixo_python
