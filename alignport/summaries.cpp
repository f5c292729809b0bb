// File summaries: whether a BAM or SAM file is sorted by coordinate, and how many alignments
// each reference holds, in one pass over the file.
#include "bam_layer.h"
#include "hxutil.h"
#include "sam_text_reader.h"
#include "services.h"
#include "sortedness.h"

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace alignport;

namespace {

constexpr std::size_t kFileNameBuffer = 512;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

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

// --- saminfo's reference list ---------------------------------------------------------

// One distinct RNAME, in order of first appearance; slot 0 is "*".
struct SamReference {
    std::string name;
    std::uint8_t slot;
};

constexpr std::size_t kMaxSlots = 256;

// The list of names with their counts. Once slot 255 has been given, later new names are
// counted in slot 255 without joining the list.
class SamReferences {
public:
    SamReferences() { list_.push_back({"*", 0}); }

    // The slot of name (compared whole, byte by byte), adding it when new.
    std::uint8_t slot_of(const char* name, std::size_t length) {
        // The previous line's name first: lines of one reference usually stand together.
        if (matches(list_[lastHit_], name, length))
            return list_[lastHit_].slot;
        for (std::size_t k = 0; k < list_.size(); ++k) {
            if (matches(list_[k], name, length)) {
                lastHit_ = k;
                return list_[k].slot;
            }
        }
        if (list_.size() == kMaxSlots)
            return static_cast<std::uint8_t>(kMaxSlots - 1);
        list_.push_back({std::string(name, length), static_cast<std::uint8_t>(list_.size())});
        lastHit_ = list_.size() - 1;
        return list_.back().slot;
    }
    void count(std::uint8_t slot) { ++counts_[slot]; }

    std::size_t size() const { return list_.size(); }
    const std::uint32_t* counts() const { return counts_.data(); }
    const std::string& name(std::size_t k) const { return list_[k].name; }

private:
    // Compared here rather than by a library call: names are short and compared once a line.
    static bool matches(const SamReference& r, const char* name, std::size_t length) {
        if (r.name.size() != length)
            return false;
        const char* known = r.name.data();
        for (std::size_t i = 0; i < length; ++i) {
            if (known[i] != name[i])
                return false;
        }
        return true;
    }
    std::vector<SamReference> list_;
    std::array<std::uint32_t, kMaxSlots> counts_{};
    std::size_t lastHit_ = 0;
};

const char* skip_spaces(const char* text, const char* end) {
    while (text != end && *text == ' ')
        ++text;
    return text;
}

// Leaves reader at the first line after the last header line. Blank lines do not move that
// point; a short non-blank line (4 characters or fewer, line feed included) means a damaged
// file, whether it begins with "@" or not.
bool skip_header(SamTextReader& reader) {
    std::uint64_t afterHeader = reader.tell();
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
        afterHeader = reader.tell();
    }
    return reader.seek(afterHeader);
}

} // namespace

void baminfoF(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[]) {
    check_counts("baminfo", inCount, 1, outCount, 2);
    char name[kFileNameBuffer];
    if (!hxb::read_text(inArgs[0], name, sizeof name))
        plugin_error("InvalidFileName", "Invalid BAM file name.");
    SamFilePtr file = open_bam(name);
    if (!file)
        plugin_error("CannotOpenInFile", "Could not open BAM file.");
    const std::int32_t nTargets = file->header->n_targets;

    // Slot 0 counts the unplaced records, slot t + 1 reference t.
    std::vector<std::uint32_t> counts;
    SortCheck check{-1, -2};
    const bool stopAtDisorder = outCount <= 1;
    RecordPtr record = new_record();
    int got;
    while ((got = samread(file.get(), record.get())) >= 0) {
        if (HostInterrupt::HandlePendingInterrupt()) {
            file.reset();
            plugin_error("IterruptedByUser", "Operation terminated by user.");
        }
        const std::int32_t t = record->core.tid;
        // A reference the header lacks is damage, not a reason to grow the counts without end.
        if (t < -1 || t >= nTargets) {
            file.reset();
            plugin_error("CorruptedBAMFile", "BAM file is corrupted.");
        }
        const std::size_t slot = static_cast<std::size_t>(t + 1);
        if (slot >= counts.size())
            counts.resize(slot + 1, 0);
        ++counts[slot];
        if (check.sorted && !check.accept(t, record->core.pos)) {
            check.sorted = false;
            if (stopAtDisorder)
                break;
        }
    }
    if (got < -1) {
        file.reset();
        plugin_error("CorruptedBAMFile", "BAM file is corrupted.");
    }
    outSlots[0] = haCreateLogicalScalar(check.sorted);
    if (outCount >= 2)
        outSlots[1] = counts_column(counts.data(), counts.size());
}

void saminfoF(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[]) {
    check_counts("saminfo", inCount, 1, outCount, 3);
    char name[kFileNameBuffer];
    if (!hxb::read_text(inArgs[0], name, sizeof name))
        plugin_error("InvalidFileName", "Invalid SAM file name.");
    FilePtr file(std::fopen(name, "rb"));
    if (!file || is_folder(file.get())) {
        file.reset();
        plugin_error("CannotOpenInFile", "Could not open SAM file.");
    }
    SamTextReader reader(file.get());
    if (!skip_header(reader)) {
        file.reset();
        plugin_error("CorruptedSAMFile", "SAM file is corrupted.");
    }

    SamReferences references;
    SortCheck check{0, -1};
    const bool stopAtDisorder = outCount <= 1;
    const char* text = nullptr;
    std::size_t length = 0;
    while (reader.next(&text, &length)) {
        if (HostInterrupt::HandlePendingInterrupt()) {
            file.reset();
            plugin_error("IterruptedByUser", "Operation terminated by user.");
        }
        const char* end = text + length;
        const char* rest = skip_spaces(text, end);
        if (rest == end || *rest == '\r' || *rest == '\n')
            continue;
        AlignmentFields fields{};
        if (!scan_alignment_fields(rest, static_cast<std::size_t>(end - rest), &fields))
            continue;
        const std::uint8_t slot = references.slot_of(fields.name, fields.nameLength);
        references.count(slot);
        if (check.sorted && !check.accept(slot, fields.position)) {
            check.sorted = false;
            if (stopAtDisorder)
                break;
        }
    }
    if (reader.failed()) {
        file.reset();
        plugin_error("CorruptedSAMFile", "SAM file is corrupted.");
    }
    outSlots[0] = haCreateLogicalScalar(check.sorted);
    if (outCount >= 2)
        outSlots[1] = counts_column(references.counts(), references.size());
    if (outCount >= 3) {
        outSlots[2] = haCreateCellMatrix(references.size(), 1);
        for (std::size_t k = 0; k < references.size(); ++k)
            haSetCell(outSlots[2], k, haCreateString(references.name(k).c_str()));
    }
}
