// The index and starts inputs of the feature services, and the fetch window they give.
#pragma once

#include "hx.h"
#include "services.h"

#include <cstdint>

namespace alignport {

struct IndexWindow {
    const std::uint32_t* wanted = nullptr; // the index: wanted alignment numbers
    std::uint32_t count = 0;               // m, the number of wanted alignments (output rows)
    std::uint32_t first = 0;               // wanted[0]
    std::uint32_t last = 0;                // wanted[m - 1]
    std::int32_t first_start = 0;          // 0-based start of alignment number first
    std::int32_t skip = 0;                 // alignments before first that share its start
    int begin = 0;                         // region of the one fetch, end exclusive
    int end = 0;
};

// Checks the index (service input 3) and the starts vector (service input 4) in this order,
// raising the service's InvalidIndexing errors (contract.h): an empty index; an index that is
// not a real uint32 array; starts that are not a real int32 or uint32 array; an index element
// of 0 or beyond the starts vector. Then counts skip and sets the window: from one base before the
// first wanted start (a record covering no reference base is delivered only to windows that
// begin before it) to one past the last wanted start, clamped to the int range.
IndexWindow read_index_window(ServiceId service, const haArray* index, const haArray* starts);

} // namespace alignport
