// The entry offsets collected during a scan, in the width of the instance: starts (one value
// per entry and one more, the end, once the scan is done) and, for the paired layout only,
// ends (one value per entry).
#pragma once

#include "contract.h"
#include "index_files.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>

namespace flatmark {

// A growing array of plain values that doubles its capacity when full. Grown with realloc,
// which for large blocks remaps the pages already written instead of copying them.
template <class T> class GrowingArray {
    static_assert(std::is_trivially_copyable<T>::value, "plain values only");

public:
    GrowingArray() = default;
    ~GrowingArray() { std::free(data_); }
    GrowingArray(const GrowingArray&) = delete;
    GrowingArray& operator=(const GrowingArray&) = delete;

    void push_back(T value) {
        if (size_ == capacity_)
            grow();
        data_[size_++] = value;
    }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    const T& operator[](std::size_t i) const { return data_[i]; }

private:
    void grow() {
        const std::size_t capacity = capacity_ == 0 ? 4096 : 2 * capacity_;
        void* grown = std::realloc(data_, capacity * sizeof(T));
        if (grown == nullptr)
            throw std::bad_alloc();
        data_ = static_cast<T*>(grown);
        capacity_ = capacity;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

template <class Offset> class OffsetTable {
public:
    OffsetTable(IndexFiles& files, bool collect_ends)
        : files_(files), collect_ends_(collect_ends) {}

    void add_start(std::uint64_t position) { starts.push_back(narrow(position)); }
    void add_end(std::uint64_t position) {
        if (collect_ends_)
            ends.push_back(narrow(position));
    }

    GrowingArray<Offset> starts;
    GrowingArray<Offset> ends;

private:
    // A position that does not fit the width would point into the wrong place if reduced, so
    // the 32-bit instance refuses it instead.
    Offset narrow(std::uint64_t position) {
        if (sizeof(Offset) < sizeof(std::uint64_t) &&
            position > static_cast<std::uint64_t>(static_cast<Offset>(~Offset{0})))
            files_.fail(Error::OffsetOverflow);
        return static_cast<Offset>(position);
    }

    IndexFiles& files_;
    bool collect_ends_;
};

} // namespace flatmark
