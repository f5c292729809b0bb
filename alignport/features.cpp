// Features of chosen alignments of one reference, picked by alignment number: one windowed
// fetch between the first and the last wanted start, counting its way to the wanted alignments.
#include "bam_layer.h"
#include "contract.h"
#include "feature_table.h"
#include "hxutil.h"
#include "index_window.h"
#include "service_inputs.h"
#include "walk_outcome.h"

#include <string>

namespace alignport {
namespace {

constexpr std::uint8_t kNotRequested = 255;

// The state a feature service hands to its fetch callback.
struct FeatureCursor {
    std::int32_t skip = 0;               // alignments at the first start still to pass over
    std::uint32_t current = 0;           // alignment number of the next alignment to be counted
    std::uint32_t filled = 0;            // output rows filled so far
    std::uint32_t last = 0;              // highest wanted number
    const std::uint32_t* next = nullptr; // the next wanted number
    std::uint32_t rows = 0;              // wanted alignments: no row beyond it is ever written
    std::int32_t first_start = 0;        // alignments starting before it only reach into the window
    // Single service: the feature code and its output. Multi service: every requested code has
    // its output; position[code] is the output's place among the names, kNotRequested otherwise.
    int feature = 0;
    FeatureOutput output[kFeatureCount];
    std::uint8_t position[kFeatureCount];
    std::string cigar_text; // reused for every Signature
    // The first wanted alignment whose QueryLength does not fit its uint16 column (0: none).
    std::uint32_t too_long = 0;
    std::int32_t too_long_value = 0;
};

// False (and the alignment noted) when the record's value of the feature does not fit its
// column: only QueryLength (uint16) can be wider than its column.
bool fits_column(FeatureCursor& c, int code, const bam1_t* b) {
    if (code != kQueryLength || b->core.l_qseq <= 0xFFFF)
        return true;
    c.too_long = c.current;
    c.too_long_value = b->core.l_qseq;
    return false;
}

FeatureCursor make_cursor(const IndexWindow& w) {
    FeatureCursor c;
    c.skip = w.skip;
    c.current = w.first;
    c.last = w.last;
    c.next = w.wanted;
    c.rows = w.count;
    c.first_start = w.first_start;
    for (std::uint8_t& p : c.position)
        p = kNotRequested;
    return c;
}

// The selection both callbacks make after the poll: true when this alignment is the next wanted
// one.
bool is_next_wanted(FeatureCursor& c, const bam1_t* b) {
    if (b->core.pos < c.first_start)
        return false; // overlaps the window but starts before it
    if (c.skip > 0) {
        --c.skip; // an alignment at the first start that precedes the first wanted one
        return false;
    }
    if (c.current > c.last || c.filled >= c.rows)
        return false; // the wanted alignments are done; the fetch runs on to the window's end
    if (c.current != *c.next) {
        ++c.current;
        return false;
    }
    return true;
}

void advance(FeatureCursor& c) {
    ++c.filled;
    ++c.current;
    ++c.next;
}

int fetchfeature(const bam1_t* b, void* data) {
    if (HostInterrupt::IsInterruptPending())
        return -1;
    auto& c = *static_cast<FeatureCursor*>(data);
    if (!is_next_wanted(c, b))
        return 0;
    if (!fits_column(c, c.feature, b))
        return -1;
    write_feature(c.feature, c.output[c.feature], c.filled, b, QualityBytes::Signed, c.cigar_text);
    advance(c);
    return 0;
}

int fetchfeatures(const bam1_t* b, void* data) {
    if (HostInterrupt::IsInterruptPending())
        return -1;
    auto& c = *static_cast<FeatureCursor*>(data);
    if (!is_next_wanted(c, b))
        return 0;
    if (c.position[kQueryLength] != kNotRequested && !fits_column(c, kQueryLength, b))
        return -1;
    for (int code = 0; code < kFeatureCount; ++code) {
        if (c.position[code] != kNotRequested)
            write_feature(code, c.output[code], c.filled, b, QualityBytes::Unsigned, c.cigar_text);
    }
    advance(c);
    return 0;
}

std::int32_t read_reference(ServiceId service, const haArray* input, const samfile_t* file) {
    const std::int32_t r = hxb::read_int32(input);
    if (r < 0 || r >= file->header->n_targets)
        raise_error(service, Error::InvalidReference);
    return r;
}

void run_fetch(ServiceId service, samfile_t* file, bam_index_t* index, std::int32_t r,
               const IndexWindow& w, FeatureCursor& cursor, bam_fetch_f callback) {
    const int result = zrbam_fetch(file->x.bam, index, r, w.begin, w.end, &cursor, callback);
    if (cursor.too_long != 0)
        raise_error(service, Error::QueryLengthTooLong,
                    ("QueryLength of alignment " + std::to_string(cursor.too_long) + " is " +
                     std::to_string(cursor.too_long_value) + ", more than 65535.")
                        .c_str());
    if (result < 0)
        raise_walk_failure(result);
}

} // namespace

void getfeatureinrefbyindexF(int outCount, haArray* outSlots[], int inCount,
                             const haArray* inArgs[], samfile_t* file, bam_index_t* index) {
    constexpr ServiceId kService = ServiceId::GetFeatureInRefByIndex;
    check_counts(kService, inCount, outCount);
    char name[kFeatureNameBuffer];
    if (!hxb::read_text(inArgs[0], name, sizeof name))
        raise_error(kService, Error::InvalidFeatureType);
    const int code = find_feature(name);
    if (code < 0)
        raise_error(kService, Error::UnknownFeatureType);
    const std::int32_t r = read_reference(kService, inArgs[1], file);
    const IndexWindow w = read_index_window(kService, inArgs[2], inArgs[3]);
    if (outCount != 1)
        return; // every input was tested; nothing is fetched for no output

    FeatureCursor cursor = make_cursor(w);
    cursor.feature = code;
    cursor.output[code] = create_feature_output(code, w.count);
    outSlots[0] = cursor.output[code].array;
    run_fetch(kService, file, index, r, w, cursor, fetchfeature);
}

void getfeaturesinrefbyindexF(int outCount, haArray* outSlots[], int inCount,
                              const haArray* inArgs[], samfile_t* file, bam_index_t* index) {
    constexpr ServiceId kService = ServiceId::GetFeaturesInRefByIndex;
    // The outputs are checked against the feature names below.
    check_counts(kService, inCount, outCount);
    const haArray* names = inArgs[0];
    const haSize n_names = haIsCell(names) ? haGetNumberOfElements(names) : 0;
    bool cell_string = haIsCell(names);
    for (haSize i = 0; cell_string && i < n_names; ++i) {
        const haArray* element = haGetCell(names, i);
        cell_string = element != nullptr && haIsChar(element);
    }
    if (!cell_string)
        raise_error(kService, Error::FeaturesNotCellString);

    std::uint8_t position[kFeatureCount];
    for (std::uint8_t& p : position)
        p = kNotRequested;
    for (haSize i = 0; i < n_names; ++i) {
        char name[kFeatureNameBuffer];
        if (!hxb::read_text(haGetCell(names, i), name, sizeof name))
            raise_error(kService, Error::InvalidFeatureType);
        const int code = find_feature(name);
        if (code < 0)
            raise_error(kService, Error::UnknownFeatureType);
        if (position[code] != kNotRequested)
            raise_error(kService, Error::DuplicatedFeatureType);
        // Eleven distinct names at most get this far, so i fits the byte.
        position[code] = static_cast<std::uint8_t>(i);
    }
    if (static_cast<haSize>(outCount < 0 ? 0 : outCount) != n_names)
        raise_error(kService, Error::OutputsNotFeatures);
    const std::int32_t r = read_reference(kService, inArgs[1], file);
    const IndexWindow w = read_index_window(kService, inArgs[2], inArgs[3]);

    FeatureCursor cursor = make_cursor(w);
    for (int code = 0; code < kFeatureCount; ++code) {
        cursor.position[code] = position[code];
        if (position[code] != kNotRequested) {
            cursor.output[code] = create_feature_output(code, w.count);
            outSlots[position[code]] = cursor.output[code].array;
        }
    }
    run_fetch(kService, file, index, r, w, cursor, fetchfeatures);
}

} // namespace alignport
