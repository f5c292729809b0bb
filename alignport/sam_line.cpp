#include "sam_line.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace alignport {

namespace {

struct MallocFree {
    void operator()(char* p) const { std::free(p); }
};

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
    std::unique_ptr<char, MallocFree> formatted(bam_format1(header, record));
    if (!formatted)
        throw std::bad_alloc();
    const std::size_t n = std::strlen(formatted.get());
    if (line.text.size() < n + 2)
        line.text.resize(n + 2);
    std::memcpy(line.text.data(), formatted.get(), n);
    line.text[n] = '\n';
    line.text[n + 1] = '\0';
    line.length = n;
    return true;
}

void keep_mandatory_columns(SamLine& line) {
    int tabs = 0;
    for (std::size_t k = 0; k < line.length; ++k) {
        if (line.text[k] == '\t' && ++tabs == kMandatoryColumns) {
            line.text[k] = '\n';
            line.text[k + 1] = '\0';
            line.length = k;
            return;
        }
    }
}

} // namespace alignport
