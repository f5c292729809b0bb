#include "sam_line.h"

#include "sam_format.h"

#include <cstring>

namespace alignport {

namespace {

constexpr int kMandatoryColumns = 11;

} // namespace

bool names_known_references(const bam_header_t* header, const bam1_t* record) {
    const std::int32_t n = header->n_targets;
    return record->core.tid >= -1 && record->core.tid < n && record->core.mtid >= -1 &&
           record->core.mtid < n;
}

bool format_sam_line(const bam_header_t* header, const bam1_t* record, SamLine& line) {
    if (!names_known_references(header, record))
        return false;
    const std::size_t n = format_sam_record(header, record, line.text);
    line.text[n] = '\n';
    line.text[n + 1] = '\0';
    line.length = n;
    return true;
}

void keep_mandatory_columns(SamLine& line) {
    char* text = line.text.data();
    const char* end = text + line.length;
    char* tab = text;
    for (int tabs = 0; tabs < kMandatoryColumns; ++tabs) {
        tab = static_cast<char*>(std::memchr(tab, '\t', static_cast<std::size_t>(end - tab)));
        if (tab == nullptr)
            return;
        ++tab;
    }
    --tab;
    tab[0] = '\n';
    tab[1] = '\0';
    line.length = static_cast<std::size_t>(tab - text);
}

} // namespace alignport
