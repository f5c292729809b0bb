// Where alignments begin: the starts, ends and flags of a reference's alignments in
// alignment-number order, and a printed map of where each reference's records begin in the file.
#include "bam_layer.h"
#include "contract.h"
#include "hxutil.h"
#include "service_inputs.h"
#include "starts_cursor.h"
#include "walk_outcome.h"

#include <cstdint>

namespace alignport {
namespace {

template <class T, class Column>
void put_column(haArray* outSlots[], int slot, const Column& values, haClassID cls) {
    outSlots[slot] = haCreateNumericMatrix(values.size(), 1, cls, haREAL);
    values.copy_to(static_cast<T*>(haGetData(outSlots[slot])));
}

} // namespace

void getstartsinrefF(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[],
                     samfile_t* file, bam_index_t* index) {
    constexpr ServiceId service = ServiceId::GetStartsInRef;
    check_counts(service, inCount, outCount);
    const std::int32_t r = hxb::read_int32(inArgs[0]);
    if (r < 0 || r >= file->header->n_targets)
        raise_error(service, Error::InvalidReference);

    if (outCount <= 0) {
        // Nothing to return: the walk only counts, and is not polled.
        std::uint32_t n = 0;
        if (plain_bam_fetch(file->x.bam, index, r, 0, kWholeReferenceEnd, &n, countalignment) ==
            kWalkCorrupt)
            raise_corrupted_bam();
        return;
    }

    // One walk collects what was asked for; the outputs are then made at their final size.
    StartsCollector collected;
    collected.want_end = outCount >= 2;
    collected.want_flag = outCount >= 3;
    const int result =
        zrbam_fetch(file->x.bam, index, r, 0, kWholeReferenceEnd, &collected, fetchstarts);
    if (result < 0)
        raise_walk_failure(result);
    put_column<std::uint32_t>(outSlots, 0, collected.start, haUINT32_CLASS);
    if (collected.want_end)
        put_column<std::uint32_t>(outSlots, 1, collected.end, haUINT32_CLASS);
    if (collected.want_flag)
        put_column<std::uint16_t>(outSlots, 2, collected.flag, haUINT16_CLASS);
}

void dumpstartsinfoF(int outCount, haArray* /*outSlots*/[], int inCount,
                     const haArray* /*inArgs*/[], samfile_t* file) {
    check_counts(ServiceId::DumpStartsInfo, inCount, outCount);
    RecordPtr record = new_record();
    // 2^29 is carried by no record, neither as a reference number nor as -1.
    std::int32_t previous = 1 << 29;
    long long ordinal = 0;
    int r;
    while ((r = samread(file, record.get())) >= 0) {
        const std::int32_t tid = record->core.tid;
        if (tid >= file->header->n_targets)
            raise_corrupted_bam(); // names a reference the header does not have
        if (tid != previous) {
            if (tid < 0)
                hxPrintf("Reads with unknown reference start at %lld\n", ordinal);
            else
                hxPrintf("%s start at %lld \n", file->header->target_name[tid], ordinal);
            previous = tid;
        }
        ++ordinal;
    }
    if (r < -1)
        raise_corrupted_bam();
    hxPrintf(" dumpstartsinfo:\n");
    hxPrintf("Loaded starts for %lld alignments \n", ordinal);
}

} // namespace alignport
