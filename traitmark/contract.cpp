#include "contract.h"

#include "hxutil.h"

#include <cstring>

namespace traitmark {

void raise_error(Error error, std::initializer_list<std::uint64_t> numbers) {
    hxb::raise_error_row("traitmark", error_row(error).name, error_row(error).text, numbers);
}

const IndexerTypeRow* find_indexer_type(const char* name) {
    for (const IndexerTypeRow& row : kIndexerTypes) {
        if (std::strcmp(row.name, name) == 0)
            return &row;
    }
    return nullptr;
}

const FeatureRow* find_feature(const IndexerTypeRow& type, const char* name) {
    for (const FeatureRow& row : kFeatures) {
        if (std::strcmp(row.indexer_type, type.name) == 0 && std::strcmp(row.name, name) == 0)
            return &row;
    }
    return nullptr;
}

bool is_feature_type(const char* name) {
    for (const char* type : kFeatureTypes) {
        if (std::strcmp(type, name) == 0)
            return true;
    }
    return false;
}

} // namespace traitmark
