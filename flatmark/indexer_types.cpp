#include "indexer_types.h"

#include <cstring>

namespace flatmark {

namespace {

#define FLATMARK_TYPE(name, consecutive, delimiter, scanner)                                   \
    IndexerType { name, consecutive, delimiter, &scanner<std::uint32_t>, &scanner<std::uint64_t> }

const IndexerType kIndexerTypes[] = {
    //            name     always consecutive  needs delimiter  scanner
    FLATMARK_TYPE("mrtab", false, false, scan_mrtab),
    FLATMARK_TYPE("table", false, false, scan_table),
    FLATMARK_TYPE("fasta", true, false, scan_fasta),
    FLATMARK_TYPE("fastq", true, false, scan_fastq),
    FLATMARK_TYPE("flat", false, true, scan_flat),
};

#undef FLATMARK_TYPE

} // namespace

const IndexerType* find_indexer_type(const char* name) {
    for (const IndexerType& type : kIndexerTypes) {
        if (std::strcmp(type.name, name) == 0)
            return &type;
    }
    return nullptr;
}

} // namespace flatmark
