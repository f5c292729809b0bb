// Array storage, creation and queries of the stand-in host, with the call arena that frees
// every array a plug-in created and did not hand to the caller.
#include "array_impl.h"
#include "hxhost.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_set>

namespace {

std::atomic<long> g_live{0};

struct Arena {
    bool open = false;
    std::unordered_set<const haArray*> arrays;
};
Arena g_arena;

template <class T> double first_as_double(const haArray* a) {
    T value;
    std::memcpy(&value, a->real.data(), sizeof(T));
    return static_cast<double>(value);
}

} // namespace

haArray_tag::haArray_tag() {
    ++g_live;
}
haArray_tag::~haArray_tag() {
    --g_live;
}

namespace hxhost {

namespace detail {

haSize element_count(const std::vector<haSize>& dims) {
    haSize count = 1;
    for (haSize d : dims)
        count *= d;
    return count;
}

haArray* allocate(haClassID cls, std::vector<haSize> dims, bool complex) {
    while (dims.size() < 2)
        dims.push_back(dims.empty() ? 0 : 1);
    auto* a = new haArray_tag();
    a->cls = cls;
    a->complex = complex && cls != haCELL_CLASS && cls != haCHAR_CLASS && cls != haLOGICAL_CLASS;
    a->dims = std::move(dims);
    const haSize count = element_count(a->dims);
    try {
        if (cls == haCELL_CLASS) {
            a->cells.assign(count, nullptr);
        } else {
            a->real.assign(count * element_size(cls), 0);
            if (a->complex)
                a->imag.assign(a->real.size(), 0);
        }
    } catch (...) {
        delete a;
        throw;
    }
    if (g_arena.open)
        g_arena.arrays.insert(a);
    return a;
}

void free_array(haArray* array) {
    if (array == nullptr)
        return;
    for (haArray* element : array->cells)
        free_array(element);
    delete array;
}

void arena_open() {
    g_arena.arrays.clear();
    g_arena.open = true;
}

bool arena_contains(const haArray* array) {
    return g_arena.arrays.count(array) != 0;
}

void arena_forget(const haArray* array) {
    g_arena.arrays.erase(array);
}

void arena_free_all() {
    g_arena.open = false;
    for (const haArray* a : g_arena.arrays)
        free_array(const_cast<haArray*>(a));
    g_arena.arrays.clear();
}

} // namespace detail

void destroy(haArray* array) {
    if (array != nullptr && g_arena.open)
        detail::arena_forget(array);
    detail::free_array(array);
}

long live_arrays() {
    return g_live.load();
}

std::size_t element_size(haClassID cls) {
    switch (cls) {
    case haLOGICAL_CLASS:
    case haINT8_CLASS:
    case haUINT8_CLASS:
        return 1;
    case haCHAR_CLASS:
    case haINT16_CLASS:
    case haUINT16_CLASS:
        return 2;
    case haSINGLE_CLASS:
    case haINT32_CLASS:
    case haUINT32_CLASS:
        return 4;
    case haDOUBLE_CLASS:
    case haINT64_CLASS:
    case haUINT64_CLASS:
        return 8;
    default:
        return 0;
    }
}

const char* class_name(haClassID cls) {
    switch (cls) {
    case haCELL_CLASS:
        return "cell";
    case haLOGICAL_CLASS:
        return "logical";
    case haCHAR_CLASS:
        return "char";
    case haDOUBLE_CLASS:
        return "double";
    case haSINGLE_CLASS:
        return "single";
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
        return "unknown";
    }
}

bool class_from_name(const std::string& name, haClassID& cls) {
    static const haClassID kNumeric[] = {haDOUBLE_CLASS, haSINGLE_CLASS, haLOGICAL_CLASS,
                                         haINT8_CLASS,   haUINT8_CLASS,  haINT16_CLASS,
                                         haUINT16_CLASS, haINT32_CLASS,  haUINT32_CLASS,
                                         haINT64_CLASS,  haUINT64_CLASS};
    for (haClassID c : kNumeric) {
        if (name == class_name(c)) {
            cls = c;
            return true;
        }
    }
    return false;
}

ArrayPtr make_array(haClassID cls, const std::vector<haSize>& dims, bool complex) {
    return ArrayPtr(detail::allocate(cls, dims, complex));
}

ArrayPtr make_from_bytes(haClassID cls, const void* bytes, std::size_t count,
                         std::vector<haSize> dims) {
    if (dims.empty())
        dims = {count, 1};
    if (detail::element_count(dims) != count)
        throw std::invalid_argument("make_from_bytes: dimensions do not match the values");
    ArrayPtr a = make_array(cls, dims);
    if (count != 0)
        std::memcpy(a->real.data(), bytes, count * element_size(cls));
    return a;
}

ArrayPtr make_text(const std::string& utf8) {
    const std::vector<haChar> codes = utf8_to_codes(utf8.data(), utf8.size());
    return make_char(codes, {1, codes.size()});
}

ArrayPtr make_char(const std::vector<haChar>& codes, const std::vector<haSize>& dims) {
    return make_from_bytes(haCHAR_CLASS, codes.data(), codes.size(), dims);
}

ArrayPtr make_double(double value) {
    return make_numeric<double>(haDOUBLE_CLASS, {value});
}

ArrayPtr make_logical(bool value) {
    return make_numeric<std::uint8_t>(haLOGICAL_CLASS, {static_cast<std::uint8_t>(value)});
}

ArrayPtr make_cell_shaped(const std::vector<haSize>& dims) {
    return make_array(haCELL_CLASS, dims);
}

ArrayPtr make_cell(std::vector<ArrayPtr> elements) {
    ArrayPtr cell = make_cell_shaped({1, elements.size()});
    for (std::size_t k = 0; k < elements.size(); ++k)
        set_cell(cell.get(), k, std::move(elements[k]));
    return cell;
}

void set_cell(haArray* cell, haSize index, ArrayPtr value) {
    if (cell == nullptr || cell->cls != haCELL_CLASS || index >= cell->cells.size())
        throw std::invalid_argument("set_cell: not a cell or index out of range");
    detail::free_array(cell->cells[index]);
    if (value)
        value->owned_by_cell = true;
    cell->cells[index] = value.release();
}

std::vector<haSize> dims_of(const haArray* array) {
    return array->dims;
}

std::string text_of(const haArray* array) {
    if (array == nullptr || array->cls != haCHAR_CLASS)
        return std::string();
    return codes_to_utf8(reinterpret_cast<const haChar*>(array->real.data()),
                         array->real.size() / sizeof(haChar));
}

const void* imag_data(const haArray* array) {
    return array->complex ? array->imag.data() : nullptr;
}

} // namespace hxhost

using hxhost::detail::allocate;

extern "C" {

double haGetScalar(const haArray* a) {
    if (a == nullptr || a->cls == haCELL_CLASS || a->real.empty())
        return std::numeric_limits<double>::quiet_NaN();
    switch (a->cls) {
    case haDOUBLE_CLASS:
        return first_as_double<double>(a);
    case haSINGLE_CLASS:
        return first_as_double<float>(a);
    case haLOGICAL_CLASS:
        return first_as_double<std::uint8_t>(a) != 0 ? 1.0 : 0.0;
    case haCHAR_CLASS:
        return first_as_double<haChar>(a);
    case haINT8_CLASS:
        return first_as_double<std::int8_t>(a);
    case haUINT8_CLASS:
        return first_as_double<std::uint8_t>(a);
    case haINT16_CLASS:
        return first_as_double<std::int16_t>(a);
    case haUINT16_CLASS:
        return first_as_double<std::uint16_t>(a);
    case haINT32_CLASS:
        return first_as_double<std::int32_t>(a);
    case haUINT32_CLASS:
        return first_as_double<std::uint32_t>(a);
    case haINT64_CLASS:
        return first_as_double<std::int64_t>(a);
    case haUINT64_CLASS:
        return first_as_double<std::uint64_t>(a);
    default:
        return std::numeric_limits<double>::quiet_NaN();
    }
}

haSize haGetNumberOfElements(const haArray* a) {
    return hxhost::detail::element_count(a->dims);
}
haSize haGetM(const haArray* a) {
    return a->dims[0];
}
haSize haGetN(const haArray* a) {
    haSize n = 1;
    for (std::size_t k = 1; k < a->dims.size(); ++k)
        n *= a->dims[k];
    return n;
}
haSize haGetNumberOfDimensions(const haArray* a) {
    return a->dims.size();
}
const haSize* haGetDimensions(const haArray* a) {
    return a->dims.data();
}
haClassID haGetClassID(const haArray* a) {
    return a->cls;
}
bool haIsComplex(const haArray* a) {
    return a->complex;
}
bool haIsChar(const haArray* a) {
    return a->cls == haCHAR_CLASS;
}
bool haIsCell(const haArray* a) {
    return a->cls == haCELL_CLASS;
}
bool haIsUint32(const haArray* a) {
    return a->cls == haUINT32_CLASS;
}
bool haIsUint64(const haArray* a) {
    return a->cls == haUINT64_CLASS;
}
bool haIsInt32(const haArray* a) {
    return a->cls == haINT32_CLASS;
}

void* haGetData(const haArray* a) {
    if (a->cls == haCELL_CLASS)
        return nullptr;
    return const_cast<std::uint8_t*>(a->real.data());
}

const haArray* haGetCell(const haArray* cell, haSize index) {
    if (cell == nullptr || cell->cls != haCELL_CLASS || index >= cell->cells.size())
        return nullptr;
    return cell->cells[index];
}

haArray* haCreateDoubleScalar(double value) {
    haArray* a = allocate(haDOUBLE_CLASS, {1, 1}, false);
    std::memcpy(a->real.data(), &value, sizeof value);
    return a;
}

haArray* haCreateDoubleMatrix(haSize m, haSize n, haComplexity complexity) {
    return allocate(haDOUBLE_CLASS, {m, n}, complexity == haCOMPLEX);
}

haArray* haCreateNumericMatrix(haSize m, haSize n, haClassID cls, haComplexity complexity) {
    if (hxhost::element_size(cls) == 0 || cls == haCHAR_CLASS)
        hxErrMsgIdAndTxt("hxhost:InvalidClass", "haCreateNumericMatrix: not a numeric class.");
    return allocate(cls, {m, n}, complexity == haCOMPLEX);
}

haArray* haCreateLogicalScalar(bool value) {
    haArray* a = allocate(haLOGICAL_CLASS, {1, 1}, false);
    a->real[0] = value ? 1 : 0;
    return a;
}

haArray* haCreateString(const char* text) {
    const std::vector<haChar> codes = hxhost::utf8_to_codes(text, std::strlen(text));
    haArray* a = allocate(haCHAR_CLASS, {1, codes.size()}, false);
    if (!codes.empty())
        std::memcpy(a->real.data(), codes.data(), codes.size() * sizeof(haChar));
    return a;
}

haArray* haCreateCharArray(haSize ndim, const haSize* dims) {
    return allocate(haCHAR_CLASS, std::vector<haSize>(dims, dims + ndim), false);
}

haArray* haCreateCellMatrix(haSize m, haSize n) {
    return allocate(haCELL_CLASS, {m, n}, false);
}

void haSetCell(haArray* cell, haSize index, haArray* value) {
    if (cell == nullptr || cell->cls != haCELL_CLASS || index >= cell->cells.size())
        hxErrMsgIdAndTxt("hxhost:InvalidCell",
                         "haSetCell: not a cell array or index out of range.");
    if (value != nullptr) {
        if (value->owned_by_cell || value == cell)
            hxErrMsgIdAndTxt("hxhost:InvalidCell",
                             "haSetCell: the array already belongs to a cell.");
        value->owned_by_cell = true;
        hxhost::detail::arena_forget(value);
    }
    hxhost::detail::free_array(cell->cells[index]);
    cell->cells[index] = value;
}

} // extern "C"
