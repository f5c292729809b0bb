// The entry offsets collected during a scan, in the width of the instance: starts (N + 1 values
// once the scan is done) and, for the paired layout only, ends (N values).
#pragma once

#include "errors.h"
#include "index_files.h"

#include <cstdint>
#include <vector>

namespace flatmark {

template <class Offset> class OffsetTable {
public:
    OffsetTable(IndexFiles& files, bool collectEnds) : files_(files), collectEnds_(collectEnds) {}

    void add_start(std::uint64_t position) { starts.push_back(narrow(position)); }
    void add_end(std::uint64_t position) {
        if (collectEnds_)
            ends.push_back(narrow(position));
    }

    std::vector<Offset> starts;
    std::vector<Offset> ends;

private:
    // A position that does not fit the width would point into the wrong place if reduced, so
    // the 32-bit instance refuses it instead.
    Offset narrow(std::uint64_t position) {
        if (sizeof(Offset) < sizeof(std::uint64_t) &&
            position > static_cast<std::uint64_t>(static_cast<Offset>(~Offset{0})))
            files_.fail(kIdOffsetOverflow, kMsgOffsetOverflow);
        return static_cast<Offset>(position);
    }

    IndexFiles& files_;
    bool collectEnds_;
};

} // namespace flatmark
