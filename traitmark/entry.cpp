// The entry of traitmark: counts, the offset width, then the validation of the nine inputs in
// the system's order (extractfeature, one instance per offset width).
#include "extract.h"
#include "hxutil.h"

#include <cstring>

namespace traitmark {
namespace {

constexpr std::size_t kTypeBuffer = 128;
constexpr std::size_t kFileNameBuffer = 256;

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

// A real vector (one row or one column) of the class; an empty array of the class counts.
bool is_offsets_vector(const haArray* array, haClassID cls) {
    if (haGetClassID(array) != cls || haIsComplex(array))
        return false;
    if (haGetNumberOfElements(array) == 0)
        return true;
    return haGetNumberOfDimensions(array) == 2 && (haGetM(array) == 1 || haGetN(array) == 1);
}

} // namespace

DecodedCall decode_inputs(const haArray* inArgs[], bool wide_offsets, CallFiles& files) {
    DecodedCall call;
    char indexer_type[kTypeBuffer];
    if (!hxb::read_text(inArgs[0], indexer_type, sizeof indexer_type))
        fail("InvalidIndexerType", "Invalid indexer type.");
    const IndexerTypeRow* type = find_indexer_type(indexer_type);
    if (type == nullptr)
        fail("UnknownIndexerType", "Unknown indexer type.");

    char feature_name[kTypeBuffer];
    if (!hxb::read_text(inArgs[1], feature_name, sizeof feature_name))
        fail("InvalidFeatureName", "Invalid feature name.");
    call.row = find_feature(*type, feature_name);
    if (call.row == nullptr)
        fail(type->unknown_feature_error, type->unknown_feature_message);

    char feature_type[kTypeBuffer];
    if (!hxb::read_text(inArgs[2], feature_type, sizeof feature_type))
        fail("InvalidFeatureType", "Invalid feature type.");
    if (!is_feature_type(feature_type))
        fail("UnknownFeatureType", "Unknown feature type.");

    char input_name[kFileNameBuffer];
    if (!hxb::read_text(inArgs[3], input_name, sizeof input_name))
        fail("InvalidFileName", "Invalid input file name.");
    if (!files.open_input(input_name))
        fail("CannotOpenInFile", "Could not open input file.");

    // Kept apart from the other texts: the index file is opened again after an interrupt.
    char index_name[kFileNameBuffer];
    if (!hxb::read_text(inArgs[4], index_name, sizeof index_name)) {
        files.close_input();
        fail("InvalidFileName", "Invalid index file name.");
    }
    files.open_index(index_name);

    // Input 6 is not used.
    const haArray* count = inArgs[6];
    if (haGetClassID(count) != haUINT32_CLASS || haGetNumberOfElements(count) != 1) {
        files.close_both();
        fail("InvalidNumEntries", "Invalid number of entries.");
    }
    call.count = *static_cast<const std::uint32_t*>(haGetData(count));

    // Input 8 read again: the instance was chosen by it, the offsets must match it.
    const bool wide = hxb::read_flag_low8(inArgs[7]) != 0;
    const haArray* offsets = inArgs[8];
    const std::uint64_t needed =
        call.count == 0 ? 0
                        : std::uint64_t{call.count} + (call.row->feature == Feature::FastaLength);
    if (wide != wide_offsets ||
        !is_offsets_vector(offsets, wide ? haUINT64_CLASS : haUINT32_CLASS) ||
        haGetNumberOfElements(offsets) < needed) {
        files.close_both();
        fail("InvalidOffset", "Invalid ofsets.");
    }
    call.offsets = haGetData(offsets);
    return call;
}

} // namespace traitmark

extern "C" void hxFunction(int outCount, haArray* outSlots[], int inCount,
                           const haArray* inArgs[]) {
    hxb::firewall("traitmark", [&] {
        if (inCount != 9)
            traitmark::fail("InvalidNumInputArg", "Nine input arguments required.");
        if (outCount > 0)
            traitmark::fail("InvalidNumOutputArg", "Too many output arguments.");
        if (hxb::read_flag_low8(inArgs[7]) != 0)
            traitmark::extractfeature<std::uint64_t>(outCount, outSlots, inCount, inArgs);
        else
            traitmark::extractfeature<std::uint32_t>(outCount, outSlots, inCount, inArgs);
    });
}
