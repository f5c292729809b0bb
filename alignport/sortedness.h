// The sortedness rule shared by baminfo and saminfo: records of one reference stand together,
// references come in ascending order of their index, positions do not go back within one,
// and nothing placed follows the unplaced records.
#pragma once

#include <cstdint>

namespace alignport {

struct SortCheck {
    std::int32_t unplaced; // the index that marks a record without reference
    std::int32_t last;     // last index seen (a value that is no index before the first record)
    std::int64_t last_position = 0;
    bool sorted = true;

    // Applies the rule to one record of index t at position p; false when the record is out
    // of order. The first record of each reference is not compared with the second: entering
    // a reference resets the last position to 0, not to the record's position.
    bool accept(std::int32_t t, std::int64_t p) {
        if (t == last) {
            if (t == unplaced)
                return true;
            if (p < last_position)
                return false;
            last_position = p;
            return true;
        }
        if (t == unplaced) {
            last = t;
            last_position = 0;
            return true;
        }
        if (last >= t || last == unplaced)
            return false;
        last = t;
        last_position = 0;
        return true;
    }
};

} // namespace alignport
