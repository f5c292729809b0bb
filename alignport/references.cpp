// Reference and header queries: names to numbers and back, and the header of a BAM file.
#include "bam_layer.h"
#include "contract.h"
#include "hxutil.h"
#include "service_inputs.h"

namespace alignport {

void validatereferencestringF(int outCount, haArray* outSlots[], int inCount,
                              const haArray* inArgs[], samfile_t* file) {
    check_counts(ServiceId::ValidateReferenceString, inCount, outCount);
    char text[kReferenceTextBuffer];
    if (!hxb::read_text(inArgs[0], text, sizeof text))
        raise_error(Error::InvalidRefName);
    // Only the reference number the parser stores counts; its result and the range do not.
    int tid = -1, begin = 0, end = 0;
    bam_parse_region(file->header, text, &tid, &begin, &end);
    if (outCount >= 1) {
        outSlots[0] = haCreateNumericMatrix(1, 1, haINT32_CLASS, haREAL);
        *static_cast<std::int32_t*>(haGetData(outSlots[0])) = tid;
    }
}

void getnumberofreferencesF(int outCount, haArray* outSlots[], int inCount,
                            const haArray* /*inArgs*/[], samfile_t* file) {
    check_counts(ServiceId::GetNumberOfReferences, inCount, outCount);
    if (outCount >= 1) {
        outSlots[0] = haCreateNumericMatrix(1, 1, haINT32_CLASS, haREAL);
        *static_cast<std::int32_t*>(haGetData(outSlots[0])) = file->header->n_targets;
    }
}

void getreferencestringF(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[],
                         samfile_t* file) {
    check_counts(ServiceId::GetReferenceString, inCount, outCount);
    const std::int32_t k = hxb::read_int32(inArgs[0]);
    if (k < 0 || k >= file->header->n_targets)
        raise_error(ServiceId::GetReferenceString, Error::InvalidReference);
    if (outCount >= 1)
        outSlots[0] = haCreateString(file->header->target_name[k]);
}

void getheaderF(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[]) {
    check_counts(ServiceId::GetHeader, inCount, outCount);
    char name[kFileNameBuffer];
    SamFilePtr file = open_named_bam(inArgs[0], name, sizeof name);
    const bam_header_t* header = file->header;
    const haSize n = header->n_targets > 0 ? static_cast<haSize>(header->n_targets) : 0;
    if (outCount >= 1)
        outSlots[0] = haCreateString(header->text != nullptr ? header->text : "");
    if (outCount >= 2) {
        outSlots[1] = haCreateCellMatrix(n, 1);
        for (haSize k = 0; k < n; ++k)
            haSetCell(outSlots[1], k, haCreateString(header->target_name[k]));
    }
    if (outCount >= 3) {
        outSlots[2] = haCreateNumericMatrix(n, 1, haUINT32_CLASS, haREAL);
        auto* lengths = static_cast<std::uint32_t*>(haGetData(outSlots[2]));
        for (haSize k = 0; k < n; ++k)
            lengths[k] = header->target_len[k];
    }
}

} // namespace alignport
