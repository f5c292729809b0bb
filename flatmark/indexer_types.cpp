#include "indexer_types.h"

#include <cstring>

namespace flatmark {

namespace {

// One row a type: name, layout always consecutive, entry delimiter required, its scanner in
// the 32-bit and the 64-bit instance.
const IndexerType kIndexerTypes[] = {
    {"mrtab", false, false, &scan_mrtab<std::uint32_t>, &scan_mrtab<std::uint64_t>},
    {"table", false, false, &scan_table<std::uint32_t>, &scan_table<std::uint64_t>},
    {"fasta", true, false, &scan_fasta<std::uint32_t>, &scan_fasta<std::uint64_t>},
    {"fastq", true, false, &scan_fastq<std::uint32_t>, &scan_fastq<std::uint64_t>},
    {"flat", false, true, &scan_flat<std::uint32_t>, &scan_flat<std::uint64_t>},
};

} // namespace

const IndexerType* find_indexer_type(const char* name) {
    for (const IndexerType& type : kIndexerTypes) {
        if (std::strcmp(type.name, name) == 0)
            return &type;
    }
    return nullptr;
}

} // namespace flatmark
