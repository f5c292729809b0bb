// The stand-in host's array record and the ownership arena of a running call. Private to host/.
#pragma once

#include "hx.h"

#include <cstdint>
#include <vector>

struct haArray_tag {
    haClassID cls = haDOUBLE_CLASS;
    bool complex = false;
    std::vector<haSize> dims;       // at least two
    std::vector<std::uint8_t> real; // element data, column order
    std::vector<std::uint8_t> imag; // same size as real when complex
    std::vector<haArray*> cells;    // owned elements of a cell array (null = unset)
    bool owned_by_cell = false;

    haArray_tag();
    ~haArray_tag();
    haArray_tag(const haArray_tag&) = delete;
    haArray_tag& operator=(const haArray_tag&) = delete;
};

namespace hxhost::detail {

haSize element_count(const std::vector<haSize>& dims);
// Allocates an array; inside a call it is recorded in the call's arena.
haArray* allocate(haClassID cls, std::vector<haSize> dims, bool complex);
// Frees an array and the elements a cell owns.
void free_array(haArray* array);

// The arena of the running call: every array created while it is open.
void arena_open();
bool arena_contains(const haArray* array);
void arena_forget(const haArray* array); // the array passed to a caller or a cell
void arena_free_all();                   // frees what is left, closes the arena

} // namespace hxhost::detail
