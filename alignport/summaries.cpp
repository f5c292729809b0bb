// File summaries: whether a BAM or SAM file is sorted by coordinate, and how many alignments
// each reference holds, in one pass over the file.
#include "bam_layer.h"
#include "contract.h"
#include "file_owner.h"
#include "hxutil.h"
#include "reference_numbering.h"
#include "sam_text_reader.h"
#include "service_inputs.h"
#include "sortedness.h"

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace alignport {
namespace {

// A folder opens for reading on some systems and only fails at the first read.
bool is_folder(std::FILE* file) {
    struct stat st {};
    return ::fstat(::fileno(file), &st) == 0 && S_ISDIR(st.st_mode);
}

haArray* counts_column(const std::uint32_t* counts, std::size_t n) {
    haArray* column = haCreateDoubleMatrix(n, 1, haREAL);
    auto* values = static_cast<double*>(haGetData(column));
    for (std::size_t k = 0; k < n; ++k)
        values[k] = counts[k];
    return column;
}

const char* skip_spaces(const char* text, const char* end) {
    while (text != end && *text == ' ')
        ++text;
    return text;
}

// Leaves reader at the first line after the last header line. Blank lines do not move that
// point; a short non-blank line (4 characters or fewer, line feed included) means a damaged
// file, whether it begins with "@" or not.
bool skip_header(SamTextReader& reader) {
    std::uint64_t after_header = reader.tell();
    const char* text = nullptr;
    std::size_t length = 0;
    while (reader.next(&text, &length)) {
        const char* end = text + ::strnlen(text, length);
        const char* rest = skip_spaces(text, end);
        if (rest == end || *rest == '\r' || *rest == '\n')
            continue;
        if (end - rest <= 4)
            return false;
        if (*rest != '@')
            break;
        after_header = reader.tell();
    }
    return reader.seek(after_header);
}

} // namespace

void baminfoF(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[]) {
    check_counts(ServiceId::BamInfo, inCount, outCount);
    char name[kFileNameBuffer];
    // Every error raised below closes the file as it unwinds.
    SamFilePtr file = open_named_bam(inArgs[0], name, sizeof name);
    const std::int32_t n_targets = file->header->n_targets;

    // Slot 0 counts the unplaced records, slot t + 1 reference t.
    std::vector<std::uint32_t> counts;
    SortCheck check{-1, -2};
    const bool stop_at_disorder = outCount <= 1;
    RecordPtr record = new_record();
    int got;
    while ((got = samread(file.get(), record.get())) >= 0) {
        if (HostInterrupt::HandlePendingInterrupt())
            raise_error(Error::Interrupted);
        const std::int32_t t = record->core.tid;
        // A reference the header lacks is damage, not a reason to grow the counts without end.
        if (t < -1 || t >= n_targets)
            raise_error(Error::CorruptedBam);
        const std::size_t slot = static_cast<std::size_t>(t + 1);
        if (slot >= counts.size())
            counts.resize(slot + 1, 0);
        ++counts[slot];
        if (check.sorted && !check.accept(t, record->core.pos)) {
            check.sorted = false;
            if (stop_at_disorder)
                break;
        }
    }
    if (got < -1)
        raise_error(Error::CorruptedBam);
    outSlots[0] = haCreateLogicalScalar(check.sorted);
    if (outCount >= 2)
        outSlots[1] = counts_column(counts.data(), counts.size());
}

void saminfoF(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[]) {
    check_counts(ServiceId::SamInfo, inCount, outCount);
    char name[kFileNameBuffer];
    if (!hxb::read_text(inArgs[0], name, sizeof name))
        raise_error(Error::InvalidSamName);
    // Every error raised below closes the file as it unwinds.
    hxb::FilePtr file(std::fopen(name, "rb"));
    if (!file || is_folder(file.get()))
        raise_error(Error::CannotOpenSam);
    SamTextReader reader(file.get());
    if (!skip_header(reader))
        raise_error(Error::CorruptedSam);

    // The SamReference list: each distinct RNAME with its slot, the slot being its number in
    // the one reference numbering ("*" 0, then order of first appearance, 255 shared at last).
    hxb::ReferenceNumbering references;
    std::array<std::uint32_t, hxb::ReferenceNumbering::kMaxNames> counts{};
    SortCheck check{0, -1};
    const bool stop_at_disorder = outCount <= 1;
    const char* text = nullptr;
    std::size_t length = 0;
    while (reader.next(&text, &length)) {
        if (HostInterrupt::HandlePendingInterrupt())
            raise_error(Error::Interrupted);
        const char* end = text + length;
        const char* rest = skip_spaces(text, end);
        if (rest == end || *rest == '\r' || *rest == '\n')
            continue;
        AlignmentFields fields{};
        if (!scan_alignment_fields(rest, static_cast<std::size_t>(end - rest), &fields))
            continue;
        const std::uint8_t slot = references.number_of(fields.name, fields.name_length);
        ++counts[slot];
        if (check.sorted && !check.accept(slot, fields.position)) {
            check.sorted = false;
            if (stop_at_disorder)
                break;
        }
    }
    if (reader.failed())
        raise_error(Error::CorruptedSam);
    const std::vector<std::string>& names = references.names();
    outSlots[0] = haCreateLogicalScalar(check.sorted);
    if (outCount >= 2)
        outSlots[1] = counts_column(counts.data(), names.size());
    if (outCount >= 3) {
        outSlots[2] = haCreateCellMatrix(names.size(), 1);
        for (std::size_t k = 0; k < names.size(); ++k)
            haSetCell(outSlots[2], k, haCreateString(names[k].c_str()));
    }
}

} // namespace alignport
