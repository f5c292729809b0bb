#include "index_window.h"

#include "contract.h"

#include <algorithm>
#include <limits>

namespace alignport {
namespace {

bool is_real_of(const haArray* a, haClassID cls) {
    return haGetClassID(a) == cls && !haIsComplex(a);
}

int clamp_to_int(std::int64_t v) {
    return static_cast<int>(
        std::min<std::int64_t>(std::max<std::int64_t>(v, 0), std::numeric_limits<int>::max()));
}

} // namespace

IndexWindow read_index_window(ServiceId service, const haArray* index, const haArray* starts) {
    const haSize m = haGetNumberOfElements(index);
    if (m < 1)
        raise_error(service, Error::EmptyIndex);
    if (!is_real_of(index, haUINT32_CLASS))
        raise_error(service, Error::IndexNotUint32);
    if (!is_real_of(starts, haINT32_CLASS) && !is_real_of(starts, haUINT32_CLASS))
        raise_error(service, Error::StartsNotInteger);
    const haSize n_starts = haGetNumberOfElements(starts);
    const auto* wanted = static_cast<const std::uint32_t*>(haGetData(index));
    // Rows are counted in 32 bits; an index this long cannot fit any starts vector anyway.
    if (m > std::numeric_limits<std::uint32_t>::max())
        raise_error(service, Error::IndexOutOfRange);
    for (haSize k = 0; k < m; ++k) {
        if (wanted[k] == 0 || wanted[k] > n_starts)
            raise_error(service, Error::IndexOutOfRange);
    }
    // int32 and uint32 starts alike are read as the signed 0-based positions they hold.
    const auto* start = static_cast<const std::int32_t*>(haGetData(starts));

    IndexWindow w;
    w.wanted = wanted;
    w.count = static_cast<std::uint32_t>(m);
    w.first = wanted[0];
    w.last = wanted[m - 1];
    w.first_start = start[w.first - 1];
    for (std::uint32_t n = w.first - 1; n >= 1 && start[n - 1] == w.first_start; --n)
        ++w.skip;
    w.begin = clamp_to_int(static_cast<std::int64_t>(w.first_start) - 1);
    w.end = clamp_to_int(static_cast<std::int64_t>(start[w.last - 1]) + 1);
    return w;
}

} // namespace alignport
