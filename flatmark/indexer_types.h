// The table of indexer types: the name a caller passes as input 1 and what the type implies.
#pragma once

#include "scanners.h"

#include <cstdint>

namespace flatmark {

struct IndexerType {
    const char* name;
    bool alwaysConsecutive;   // the layout input is ignored
    bool needsEntryDelimiter; // an empty entry delimiter is rejected
    ScanFunction<std::uint32_t> scan32;
    ScanFunction<std::uint64_t> scan64;
};

// The type named exactly (case-sensitive, whole string) by name, or null.
const IndexerType* find_indexer_type(const char* name);

template <class Offset> ScanFunction<Offset> scanner_for(const IndexerType& type) {
    if constexpr (sizeof(Offset) == sizeof(std::uint32_t))
        return type.scan32;
    else
        return type.scan64;
}

} // namespace flatmark
