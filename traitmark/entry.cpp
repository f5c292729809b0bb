// The entry of traitmark: the counts, the offset width, then the checks of the nine inputs in
// the order contract.h lists them (kErrorsBeforeFeature, the indexer type's unknown feature,
// kErrorsAfterFeature), and the extraction (extractfeature, one instance per offset width).
#include "contract.h"
#include "extract.h"
#include "hxutil.h"

namespace traitmark {
namespace {

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
        raise_error(Error::InvalidIndexerType);
    const IndexerTypeRow* type = find_indexer_type(indexer_type);
    if (type == nullptr)
        raise_error(Error::UnknownIndexerType);

    char feature_name[kTypeBuffer];
    if (!hxb::read_text(inArgs[1], feature_name, sizeof feature_name))
        raise_error(Error::InvalidFeatureName);
    call.row = find_feature(*type, feature_name);
    if (call.row == nullptr)
        raise_error(type->unknown_feature);

    char feature_type[kTypeBuffer];
    if (!hxb::read_text(inArgs[2], feature_type, sizeof feature_type))
        raise_error(Error::InvalidFeatureType);
    if (!is_feature_type(feature_type))
        raise_error(Error::UnknownFeatureType);

    char input_name[kFileNameBuffer];
    if (!hxb::read_text(inArgs[3], input_name, sizeof input_name))
        raise_error(Error::InvalidInputName);
    if (!files.open_input(input_name))
        raise_error(Error::CannotOpenInput);

    // Kept apart from the other texts: the index file is opened again after an interrupt.
    char index_name[kFileNameBuffer];
    if (!hxb::read_text(inArgs[4], index_name, sizeof index_name)) {
        files.close_input();
        raise_error(Error::InvalidIndexName);
    }
    files.open_index(index_name);

    // Input 6 is not used.
    const haArray* count = inArgs[6];
    if (haGetClassID(count) != haUINT32_CLASS || haGetNumberOfElements(count) != 1) {
        files.close_both();
        raise_error(Error::InvalidEntryCount);
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
        raise_error(Error::InvalidOffsets);
    }
    call.offsets = haGetData(offsets);
    return call;
}

} // namespace traitmark

extern "C" void hxFunction(int outCount, haArray* outSlots[], int inCount,
                           const haArray* inArgs[]) {
    hxb::firewall("traitmark", [&] {
        using traitmark::Error;
        if (inCount != traitmark::kInputCount)
            traitmark::raise_error(Error::InputCount);
        if (outCount > traitmark::kMaxOutputs)
            traitmark::raise_error(Error::OutputCount);
        if (hxb::read_flag_low8(inArgs[7]) != 0)
            traitmark::extractfeature<std::uint64_t>(outCount, outSlots, inCount, inArgs);
        else
            traitmark::extractfeature<std::uint32_t>(outCount, outSlots, inCount, inArgs);
    });
}
