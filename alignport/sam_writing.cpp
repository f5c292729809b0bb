// SAM lines of a region, or of the unplaced reads, appended to a caller-named text file.
#include "alignment_fields.h"
#include "bam_layer.h"
#include "contract.h"
#include "hxutil.h"
#include "output_file.h"
#include "sam_line.h"
#include "service_inputs.h"

#include <cstdint>

namespace alignport {
namespace {

// What writeregionline needs from writesambyregion.
struct RegionWriter {
    std::int32_t begin;
    std::int32_t end;
    bool contained_only;
    bool keep_optional;
    AppendFile* out;
    const samfile_t* file;
    SamLine line;
    // Why the callback stopped the walk when it was not the user: the interrupt error must not
    // stand for a failed write or a damaged record.
    enum class Stop { None, WriteFailed, DamagedRecord } stop;
};

// Fetch callback of writesambyregion: stops at a pending interrupt or a failed write, never
// raises.
int writeregionline(const bam1_t* record, void* data) {
    auto* w = static_cast<RegionWriter*>(data);
    if (HostInterrupt::IsInterruptPending())
        return -1;
    if (record->core.tid < 0)
        return 0;
    // The containment test comes before formatting: a left-out alignment costs no formatting.
    if (w->contained_only) {
        const std::int64_t pos = record->core.pos;
        if (pos < w->begin || pos + reference_span(record) > w->end)
            return 0;
    }
    if (!format_sam_line(w->file->header, record, w->line)) {
        w->stop = RegionWriter::Stop::DamagedRecord;
        return -1;
    }
    if (!w->keep_optional)
        keep_mandatory_columns(w->line);
    std::size_t size = 0;
    const char* text = line_with_feed(w->line, &size);
    if (!w->out->write(text, size)) {
        w->stop = RegionWriter::Stop::WriteFailed;
        return -1;
    }
    return 0;
}

} // namespace

void writesambyregionF(int outCount, haArray* /*outSlots*/[], int inCount, const haArray* inArgs[],
                       samfile_t* file, bam_index_t* index) {
    constexpr ServiceId service = ServiceId::WriteSamByRegion;
    check_counts(service, inCount, outCount);
    char out_name[kFileNameBuffer];
    if (!hxb::read_text(inArgs[0], out_name, sizeof out_name))
        raise_error(service, Error::WriterInvalidSamName);
    // Closed first on every path, before the dispatcher's index and BAM file; an error raised
    // below closes it as it unwinds.
    AppendFile out(out_name);
    if (!out.ok())
        raise_error(service, Error::WriterCannotOpen);

    char region[kReferenceTextBuffer];
    if (!hxb::read_text(inArgs[1], region, sizeof region))
        raise_error(service, Error::WriterInvalidRefName);
    // Only the reference number counts: the parser's own result is not looked at.
    int tid = -1, begin = 0, end = 0;
    bam_parse_region(file->header, region, &tid, &begin, &end);
    if (tid < 0)
        raise_error(service, Error::WriterInvalidRegion);
    const bool keep_optional = hxb::read_flag_nonzero(inArgs[2]);
    const bool contained_only = hxb::read_flag_nonzero(inArgs[3]);

    RegionWriter writer{begin, end,  contained_only, keep_optional,
                        &out,  file, SamLine{},      RegionWriter::Stop::None};
    const int result = zrbam_fetch(file->x.bam, index, tid, begin, end, &writer, writeregionline);
    if (writer.stop == RegionWriter::Stop::WriteFailed)
        raise_error(service, Error::WriterCannotWrite);
    if (result == kWalkCorrupt || writer.stop == RegionWriter::Stop::DamagedRecord)
        raise_error(Error::CorruptedBam);
    if (result < 0) {
        HostInterrupt::HandlePendingInterrupt();
        raise_error(Error::Interrupted);
    }
    if (!out.close())
        raise_error(service, Error::WriterCannotWrite);
}

void writesamunalignedF(int outCount, haArray* /*outSlots*/[], int inCount, const haArray* inArgs[],
                        samfile_t* file) {
    constexpr ServiceId service = ServiceId::WriteSamUnaligned;
    check_counts(service, inCount, outCount);
    char out_name[kFileNameBuffer];
    if (!hxb::read_text(inArgs[0], out_name, sizeof out_name))
        raise_error(service, Error::WriterInvalidSamName);
    // Closed first on every path, before the dispatcher's BAM file; an error raised below closes
    // it as it unwinds.
    AppendFile out(out_name);
    if (!out.ok())
        raise_error(service, Error::WriterCannotOpen);
    const bool keep_optional = hxb::read_flag_nonzero(inArgs[1]);

    // The zero-filled record before the first read names reference 0, so it is never written.
    RecordPtr record = new_record();
    SamLine line;
    for (;;) {
        if (HostInterrupt::HandlePendingInterrupt())
            raise_error(Error::Interrupted);
        if (record->core.tid < 0) {
            if (!format_sam_line(file->header, record.get(), line))
                raise_error(Error::CorruptedBam);
            if (!keep_optional)
                keep_mandatory_columns(line);
            std::size_t size = 0;
            const char* text = line_with_feed(line, &size);
            if (!out.write(text, size))
                raise_error(service, Error::WriterCannotWrite);
        }
        const int got = samread(file, record.get());
        if (got == -1)
            break;
        if (got < -1)
            raise_error(Error::CorruptedBam);
    }
    if (!out.close())
        raise_error(service, Error::WriterCannotWrite);
}

} // namespace alignport
