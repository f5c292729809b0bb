// Diagnostic dumps printed to the host: the header and the alignments of a region, and ranges
// of records (by record number in the file) or of alignments of one reference (by number).
#include "bam_layer.h"
#include "contract.h"
#include "dump_window.h"
#include "hxutil.h"
#include "service_inputs.h"

#include <cstdint>
#include <vector>

namespace alignport {
namespace {

// A maximal run of consecutive records with the same reference index.
struct RecordRun {
    std::uint64_t first; // 0-based record number of its first record
    std::int32_t tid;
};

// The 0-based range [first, last] of a 1-based first and last number; false when it is empty,
// begins below 1 or ends at or beyond count.
bool to_range(const haArray* first_arg, const haArray* last_arg, std::uint64_t count,
              std::int64_t* first, std::int64_t* last) {
    *first = static_cast<std::int64_t>(hxb::read_int32(first_arg)) - 1;
    *last = static_cast<std::int64_t>(hxb::read_int32(last_arg)) - 1;
    return *first <= *last && *first >= 0 && static_cast<std::uint64_t>(*last) < count;
}

// Entries just before first that share its position, down to floor: the alignments that the
// window's fetch delivers at that position before the first one wanted.
std::int32_t same_position_before(const std::vector<std::uint32_t>& positions, std::int64_t first,
                                  std::int64_t floor) {
    std::int32_t d = 0;
    for (std::int64_t k = first - 1; k >= floor && positions[static_cast<std::size_t>(k)] ==
                                                       positions[static_cast<std::size_t>(first)];
         --k)
        ++d;
    return d;
}

// Prints positions[first..last] of reference tid through printinwindow. The window begins one
// base before the first position, so an alignment that covers no reference base at that
// position is still delivered (and counted by the skip).
void print_window(samfile_t* file, const bam_index_t* index, std::int32_t tid,
                  const std::vector<std::uint32_t>& positions, std::int64_t first,
                  std::int64_t last, std::int32_t skip) {
    const auto first_position =
        static_cast<std::int32_t>(positions[static_cast<std::size_t>(first)]);
    const auto last_position = static_cast<std::int32_t>(positions[static_cast<std::size_t>(last)]);
    DumpWindow window{first_position, skip, static_cast<std::int32_t>(last - first + 1),
                      DumpPrinter{file, SamLine{}, false}};
    const int begin = first_position > 0 ? first_position - 1 : 0;
    const int result =
        plain_bam_fetch(file->x.bam, index, tid, begin, last_position + 1, &window, printinwindow);
    if (result == kWalkCorrupt || window.printer.damaged)
        raise_error(Error::CorruptedBam);
}

void print_range_heading(ServiceId service, const char* reference_name, std::int64_t first,
                         std::int64_t last, const std::vector<std::uint32_t>& positions) {
    hxPrintf(" alignport:%s %s\n", contract_of(service).name, reference_name);
    hxPrintf(
        " [%d,%d] -> [%d,%d] \n", static_cast<int>(first), static_cast<int>(last),
        static_cast<int>(static_cast<std::int32_t>(positions[static_cast<std::size_t>(first)])),
        static_cast<int>(static_cast<std::int32_t>(positions[static_cast<std::size_t>(last)])));
}

} // namespace

void dumpinfobyregionF(int outCount, haArray* /*outSlots*/[], int inCount, const haArray* inArgs[],
                       samfile_t* file, bam_index_t* index) {
    check_counts(ServiceId::DumpInfoByRegion, inCount, outCount);
    char region[kReferenceTextBuffer];
    if (!hxb::read_text(inArgs[0], region, sizeof region))
        raise_error(Error::InvalidRefName);
    int tid = -1, begin = 0, end = 0;
    bam_parse_region(file->header, region, &tid, &begin, &end);
    if (tid < 0)
        raise_error(Error::InvalidRegion);

    hxPrintf("%s", file->header->text != nullptr ? file->header->text : "");
    hxPrintf(" dumpinfobyregion: [ref,beg,end] ->%d\t%d\t%d\n", tid, begin, end);
    DumpPrinter printer{file, SamLine{}, false};
    const int result =
        plain_bam_fetch(file->x.bam, index, tid, begin, end, &printer, printalignment);
    if (result == kWalkCorrupt || printer.damaged)
        raise_error(Error::CorruptedBam);
}

void dumpinfobyindexF(int outCount, haArray* /*outSlots*/[], int inCount, const haArray* inArgs[],
                      samfile_t* file, bam_index_t* index) {
    constexpr ServiceId service = ServiceId::DumpInfoByIndex;
    check_counts(service, inCount, outCount);
    const std::int32_t n_targets = file->header->n_targets;

    std::vector<std::uint32_t> positions;
    std::vector<RecordRun> runs;
    RecordPtr record = new_record();
    int got;
    while ((got = samread(file, record.get())) >= 0) {
        const std::int32_t tid = record->core.tid;
        if (tid < -1 || tid >= n_targets)
            raise_error(Error::CorruptedBam);
        if (runs.empty() || runs.back().tid != tid)
            runs.push_back({positions.size(), tid});
        positions.push_back(static_cast<std::uint32_t>(record->core.pos));
    }
    if (got < -1)
        raise_error(Error::CorruptedBam);

    std::int64_t first = 0, last = 0;
    if (!to_range(inArgs[0], inArgs[1], positions.size(), &first, &last))
        raise_error(service, Error::InvalidIndices);
    // The run of the first record, and no start of another run up to the last one.
    std::size_t run = 0;
    for (std::size_t k = 1; k < runs.size(); ++k) {
        if (runs[k].first <= static_cast<std::uint64_t>(first)) {
            ++run;
            continue;
        }
        if (runs[k].first <= static_cast<std::uint64_t>(last))
            raise_error(service, Error::IndicesSpanReferences);
        break;
    }
    // The run number stands for the reference index: it must be the run's own reference.
    if (runs[run].tid < 0 || static_cast<std::size_t>(runs[run].tid) != run)
        raise_error(service, Error::IndicesNameNoReference);
    const auto tid = static_cast<std::int32_t>(run);
    // Records of the run before it only: a previous reference's records are not in the fetch.
    const std::int32_t skip =
        same_position_before(positions, first, static_cast<std::int64_t>(runs[run].first));

    print_range_heading(service, file->header->target_name[tid], first, last, positions);
    print_window(file, index, tid, positions, first, last, skip);
}

void dumpinfoinrefbyindexF(int outCount, haArray* /*outSlots*/[], int inCount,
                           const haArray* inArgs[], samfile_t* file, bam_index_t* index) {
    constexpr ServiceId service = ServiceId::DumpInfoInRefByIndex;
    check_counts(service, inCount, outCount);
    const std::int32_t tid = hxb::read_int32(inArgs[0]);
    if (tid < 0 || tid >= file->header->n_targets)
        raise_error(service, Error::InvalidReference);

    std::vector<std::uint32_t> positions;
    if (plain_bam_fetch(file->x.bam, index, tid, 0, kWholeReferenceEnd, &positions, collectstart) ==
        kWalkCorrupt)
        raise_error(Error::CorruptedBam);

    std::int64_t first = 0, last = 0;
    if (!to_range(inArgs[1], inArgs[2], positions.size(), &first, &last))
        raise_error(service, Error::InvalidIndices);
    const std::int32_t skip = same_position_before(positions, first, 0);

    print_range_heading(service, file->header->target_name[tid], first, last, positions);
    print_window(file, index, tid, positions, first, last, skip);
}

} // namespace alignport
