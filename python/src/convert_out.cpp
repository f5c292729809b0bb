// Host arrays to Python values. Numeric and logical data stay where the host put them: the
// ndarray's base is a capsule that shares ownership of the host array (a cell's numeric elements
// share the cell), so the host frees it when the last view is collected.
#include "convert.h"

#include <pybind11/numpy.h>

#include <cstring>
#include <memory>
#include <vector>

namespace helixo_python {

namespace {

using Owner = std::shared_ptr<haArray>;

const char* real_dtype_name(haClassID cls) {
    switch (cls) {
    case haLOGICAL_CLASS:
        return "bool";
    case haDOUBLE_CLASS:
        return "float64";
    case haSINGLE_CLASS:
        return "float32";
    case haINT8_CLASS:
        return "int8";
    case haUINT8_CLASS:
        return "uint8";
    case haINT16_CLASS:
        return "int16";
    case haUINT16_CLASS:
        return "uint16";
    case haINT32_CLASS:
        return "int32";
    case haUINT32_CLASS:
        return "uint32";
    case haINT64_CLASS:
        return "int64";
    case haUINT64_CLASS:
        return "uint64";
    default:
        return nullptr;
    }
}

// numpy has complex floats only: complex integers come back as complex128.
const char* dtype_name(haClassID cls, bool complex) {
    const char* real = real_dtype_name(cls);
    if (complex && real != nullptr && cls != haLOGICAL_CLASS)
        return cls == haSINGLE_CLASS ? "complex64" : "complex128";
    return real;
}

template <class T> double part_as_double(const std::uint8_t* data, std::size_t k) {
    T value;
    std::memcpy(&value, data + k * sizeof(T), sizeof(T));
    return static_cast<double>(value);
}

double element_as_double(haClassID cls, const std::uint8_t* data, std::size_t k) {
    switch (cls) {
    case haDOUBLE_CLASS:
        return part_as_double<double>(data, k);
    case haSINGLE_CLASS:
        return part_as_double<float>(data, k);
    case haINT8_CLASS:
        return part_as_double<std::int8_t>(data, k);
    case haUINT8_CLASS:
        return part_as_double<std::uint8_t>(data, k);
    case haINT16_CLASS:
        return part_as_double<std::int16_t>(data, k);
    case haUINT16_CLASS:
        return part_as_double<std::uint16_t>(data, k);
    case haINT32_CLASS:
        return part_as_double<std::int32_t>(data, k);
    case haUINT32_CLASS:
        return part_as_double<std::uint32_t>(data, k);
    case haINT64_CLASS:
        return part_as_double<std::int64_t>(data, k);
    case haUINT64_CLASS:
        return part_as_double<std::uint64_t>(data, k);
    default:
        return 0;
    }
}

// The numpy shape of a host array: a vector (at most one dimension other than 1) or an empty
// array is 1-d; anything else keeps the host's dimensions.
std::vector<py::ssize_t> shape_of(const haArray* array) {
    const haSize count = haGetNumberOfElements(array);
    const haSize ndim = haGetNumberOfDimensions(array);
    const haSize* dims = haGetDimensions(array);
    std::size_t not_one = 0;
    for (haSize d = 0; d < ndim; ++d)
        not_one += dims[d] != 1 ? 1 : 0;
    if (count == 0 || not_one <= 1)
        return {static_cast<py::ssize_t>(count)};
    return std::vector<py::ssize_t>(dims, dims + ndim);
}

std::vector<py::ssize_t> fortran_strides(const std::vector<py::ssize_t>& shape,
                                         py::ssize_t itemsize) {
    std::vector<py::ssize_t> strides(shape.size());
    py::ssize_t step = itemsize;
    for (std::size_t d = 0; d < shape.size(); ++d) {
        strides[d] = step;
        step *= shape[d];
    }
    return strides;
}

// A 1-by-1 array becomes a numpy scalar of its class (indexing a 0-d copy gives exactly that).
py::object scalar_of(const py::dtype& dtype, const void* element) {
    py::array zero_d(dtype, std::vector<py::ssize_t>{}, std::vector<py::ssize_t>{}, element);
    return zero_d[py::tuple()];
}

py::object from_char(const haArray* array) {
    const haSize rows = haGetM(array);
    const haSize columns = haGetN(array);
    const auto* codes = static_cast<const haChar*>(haGetData(array));
    auto decode = [](const std::vector<haChar>& row) {
        const std::string utf8 = hxhost::codes_to_utf8(row.data(), row.size());
        // codes_to_utf8 keeps a lone surrogate as its three bytes; surrogatepass reads it back.
        PyObject* text = PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()),
                                              "surrogatepass");
        if (text == nullptr)
            throw py::error_already_set();
        return py::reinterpret_steal<py::str>(text);
    };
    if (rows <= 1)
        return decode(std::vector<haChar>(codes, codes + rows * columns));
    py::list lines;
    std::vector<haChar> row(columns);
    for (haSize r = 0; r < rows; ++r) {
        for (haSize c = 0; c < columns; ++c)
            row[c] = codes[r + c * rows];
        lines.append(decode(row));
    }
    return std::move(lines);
}

// Complex data is kept by the host as two planes (real, imaginary); numpy interleaves them, so
// this is the one numeric case that is copied.
py::object from_complex(const haArray* array) {
    const haClassID cls = haGetClassID(array);
    const bool single = cls == haSINGLE_CLASS;
    const py::dtype dtype(dtype_name(cls, true));
    const std::vector<py::ssize_t> shape = shape_of(array);
    const std::size_t count = haGetNumberOfElements(array);
    const auto* real = static_cast<const std::uint8_t*>(haGetData(array));
    const auto* imag = static_cast<const std::uint8_t*>(hxhost::imag_data(array));
    py::array out(dtype, shape, fortran_strides(shape, dtype.itemsize()));
    auto* target = static_cast<std::uint8_t*>(out.mutable_data());
    for (std::size_t k = 0; k < count; ++k) {
        if (single) {
            std::memcpy(target + 8 * k, real + 4 * k, 4);
            std::memcpy(target + 8 * k + 4, imag + 4 * k, 4);
        } else {
            const double re = element_as_double(cls, real, k);
            const double im = element_as_double(cls, imag, k);
            std::memcpy(target + 16 * k, &re, 8);
            std::memcpy(target + 16 * k + 8, &im, 8);
        }
    }
    if (count == 1 && shape.size() == 1)
        return out[py::tuple(py::make_tuple(0))];
    return std::move(out);
}

py::object from_numeric(const haArray* array, const Owner& owner) {
    const haClassID cls = haGetClassID(array);
    if (haIsComplex(array))
        return from_complex(array);
    const py::dtype dtype(dtype_name(cls, false));
    const std::vector<py::ssize_t> shape = shape_of(array);
    const std::size_t count = haGetNumberOfElements(array);
    if (count == 0)
        return py::array(dtype, shape);
    if (count == 1 && shape.size() == 1)
        return scalar_of(dtype, haGetData(array));
    auto* keep = new Owner(owner);
    py::capsule base(keep, [](void* p) { delete static_cast<Owner*>(p); });
    return py::array(dtype, shape, fortran_strides(shape, dtype.itemsize()), haGetData(array),
                     base);
}

py::object convert(const haArray* array, const Owner& owner) {
    if (array == nullptr)
        return py::none();
    const haClassID cls = haGetClassID(array);
    if (cls == haCHAR_CLASS)
        return from_char(array);
    if (cls == haCELL_CLASS) {
        py::list items;
        const haSize count = haGetNumberOfElements(array);
        for (haSize k = 0; k < count; ++k)
            items.append(convert(haGetCell(array, k), owner));
        return std::move(items);
    }
    if (dtype_name(cls, false) == nullptr)
        throw std::runtime_error(std::string("helixo: a plug-in output of class ") +
                                 hxhost::class_name(cls) + " has no Python value");
    return from_numeric(array, owner);
}

} // namespace

py::object from_host(hxhost::ArrayPtr array) {
    if (!array)
        return py::none();
    const haArray* raw = array.get();
    // Shared by every zero-copy view made from it; the last one hands it back to the host.
    const Owner owner(array.release(), [](haArray* a) { release_array(a); });
    return convert(raw, owner);
}

} // namespace helixo_python
