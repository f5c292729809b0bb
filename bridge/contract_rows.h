// What the plug-ins' contract tables share: a view of a fixed list of rows, and the check that
// a table of error rows lists them in the order of their enum (rows are found by value).
#pragma once

#include <cstddef>

namespace hxb {

// A fixed list of rows (a view of a constexpr array).
template <class T> struct Rows {
    const T* first = nullptr;
    std::size_t count = 0;
    constexpr Rows() = default;
    template <std::size_t N> constexpr Rows(const T (&list)[N]) : first(list), count(N) {}
    constexpr const T* begin() const { return first; }
    constexpr const T* end() const { return first + count; }
};

// True when row k of table is the row of the error whose value is k.
template <class Row, std::size_t N> constexpr bool rows_in_enum_order(const Row (&table)[N]) {
    for (std::size_t k = 0; k < N; ++k)
        if (static_cast<std::size_t>(table[k].error) != k)
            return false;
    return true;
}

} // namespace hxb
