// How an extraction ends: the error paths close both files (input file first) before raising.
#include "extract.h"

#include "contract.h"

namespace traitmark {

void stop_interrupted(CallFiles& files) {
    // Raised even when the index file could not be reopened to be cut back: nothing is ever
    // written through a file that is not open.
    files.cut_back();
    raise_error(Error::Interrupted);
}

void stop_field_too_long(CallFiles& files, std::uint64_t entry_number) {
    files.cut_back();
    raise_error(Error::FieldTooLong, {entry_number});
}

void stop_value_out_of_range(CallFiles& files, std::uint64_t value, std::uint64_t entry_number,
                             unsigned width) {
    files.cut_back();
    raise_error(Error::ValueOutOfRange, {value, entry_number, width});
}

void stop_unreadable_input(CallFiles& files, std::uint64_t entry_number) {
    files.cut_back();
    raise_error(Error::CannotReadInput, {entry_number});
}

void stop_write_failed(CallFiles& files) {
    files.cut_back();
    raise_error(Error::CannotWriteIndex);
}

void stop_invalid_cigar(CallFiles& files, FeatureWriter& writer) {
    // The values of the entries before the malformed one stay; if they cannot be written the
    // lost data is what the caller must hear about.
    if (!writer.drain() || !files.finish())
        stop_write_failed(files);
    raise_error(Error::InvalidCigar);
}

void finish_call(CallFiles& files, FeatureWriter& writer) {
    if (!writer.drain() || !files.finish())
        stop_write_failed(files);
}

} // namespace traitmark
