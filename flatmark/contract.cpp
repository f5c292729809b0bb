#include "contract.h"

#include "hxutil.h"
#include "scanners.h"

#include <cstring>

namespace flatmark {

namespace {

// One row a type, tried in this order.
const IndexerType kIndexerTypes[] = {
    {"mrtab", false, false, &scan_mrtab<std::uint32_t>, &scan_mrtab<std::uint64_t>, kMrtabErrors},
    {"table", false, false, &scan_table<std::uint32_t>, &scan_table<std::uint64_t>, kTableErrors},
    {"fasta", true, false, &scan_fasta<std::uint32_t>, &scan_fasta<std::uint64_t>, kFastaErrors},
    {"fastq", true, false, &scan_fastq<std::uint32_t>, &scan_fastq<std::uint64_t>, kFastqErrors},
    {"flat", false, true, &scan_flat<std::uint32_t>, &scan_flat<std::uint64_t>, kFlatErrors},
};

} // namespace

const IndexerType* find_indexer_type(const char* name) {
    for (const IndexerType& type : kIndexerTypes) {
        if (std::strcmp(type.name, name) == 0)
            return &type;
    }
    return nullptr;
}

void raise_error(Error error) {
    hxb::raise_error_row("flatmark", error_row(error).name, error_row(error).text);
}

void raise_error(Error error, std::uint64_t number) {
    hxb::raise_error_row("flatmark", error_row(error).name, error_row(error).text, {number});
}

} // namespace flatmark
