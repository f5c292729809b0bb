// extractfeature: validation of the inputs after the offset width is known, then one feature
// value per entry appended to the index file. One template, instantiated for 32-bit and for
// 64-bit entry offsets; the two differ only in the width of an offset.
#pragma once

#include "call_files.h"
#include "contract.h"
#include "fasta_fastq.h"
#include "feature_writer.h"
#include "hx.h"
#include "input_window.h"
#include "mate_index.h"
#include "reference_numbering.h"
#include "sam_fields.h"

#include <cstdint>
#include <memory>

namespace traitmark {

// The validated call: what the inputs asked for, with both files open in files.
struct DecodedCall {
    const FeatureRow* row = nullptr;
    std::uint32_t count = 0;       // the number of entries (input 7)
    const void* offsets = nullptr; // count offsets (count + 1 for the FASTA length), of the
                                   // offset width
};

// Checks inputs 1 to 9 in the order contract.h lists their errors, opens the input file and
// the index file into files and records the index file's starting size; raises the first
// failing check's error.
DecodedCall decode_inputs(const haArray* inArgs[], bool wide_offsets, CallFiles& files);

// Ends the call with its error; each closes both files first and, except where the values
// written stay (an invalid CIGAR), cuts the index file back to its starting size.
[[noreturn]] void stop_interrupted(CallFiles& files);
[[noreturn]] void stop_field_too_long(CallFiles& files, std::uint64_t entry_number);
// A value wider than the feature's column (QueryLength and the FASTQ Length, 2 bytes).
[[noreturn]] void stop_value_out_of_range(CallFiles& files, std::uint64_t value,
                                          std::uint64_t entry_number, unsigned width);

// The value of a 2-byte column, or the call's end when it does not fit.
inline std::uint32_t two_byte_value(CallFiles& files, std::uint64_t value, std::uint32_t entry) {
    if (value > 0xFFFFu)
        stop_value_out_of_range(files, value, std::uint64_t{entry} + 1, 2);
    return static_cast<std::uint32_t>(value);
}
[[noreturn]] void stop_unreadable_input(CallFiles& files, std::uint64_t entry_number);
[[noreturn]] void stop_write_failed(CallFiles& files);
[[noreturn]] void stop_invalid_cigar(CallFiles& files, FeatureWriter& writer);
// Normal end: hands the block to the index file and closes both files (raises on failure).
void finish_call(CallFiles& files, FeatureWriter& writer);

// The working state of one extraction.
struct Extraction {
    Extraction(CallFiles& call_files, const FeatureRow& feature_row)
        : files(call_files), row(feature_row), in(call_files.input()),
          writer(call_files.index(), feature_row.width), token(new char[kMaxToken + 1]) {}

    CallFiles& files;
    const FeatureRow& row;
    InputWindow in;
    FeatureWriter writer;
    std::unique_ptr<char[]> token; // the working buffer for QNAME, RNAME and CIGAR
};

// The per-entry frame: poll, seek to the entry, compute its value with value_of(entry from 0),
// and append it when append is set.
template <class Offset, class ValueOf>
void for_each_entry(Extraction& x, const Offset* offsets, std::uint32_t count, bool append,
                    ValueOf value_of) {
    for (std::uint32_t entry = 0; entry < count; ++entry) {
        if (HostInterrupt::HandlePendingInterrupt())
            stop_interrupted(x.files);
        x.in.seek(offsets[entry]);
        const std::uint32_t value = value_of(entry);
        if (x.in.failed())
            stop_unreadable_input(x.files, std::uint64_t{entry} + 1);
        if (append && !x.writer.put(value))
            stop_write_failed(x.files);
    }
}

// Reads the row's SAM columns of entry (from 0); false when they cannot be read.
inline bool read_columns(Extraction& x, std::uint32_t entry, SamColumns& columns) {
    switch (read_sam_columns(x.in, x.row.columns, x.token.get(), columns)) {
    case ReadOutcome::Read:
        return true;
    case ReadOutcome::TokenTooLong:
        stop_field_too_long(x.files, std::uint64_t{entry} + 1);
    case ReadOutcome::Unreadable:
        break;
    }
    return false;
}

template <class Offset>
void extract_sam(Extraction& x, const Offset* offsets, std::uint32_t count) {
    SamColumns columns;
    switch (x.row.feature) {
    case Feature::MateIndex: {
        MatePairing pairing(count);
        for_each_entry(x, offsets, count, false, [&](std::uint32_t entry) {
            if (read_columns(x, entry, columns))
                pairing.add(entry, x.token.get(), columns.token_length,
                            static_cast<std::uint16_t>(columns.number));
            else
                pairing.add_unreadable(entry);
            return 0u;
        });
        for (std::uint32_t entry = 0; entry < count; ++entry) {
            if (!x.writer.put(pairing.value_of(entry)))
                stop_write_failed(x.files);
        }
        return;
    }
    case Feature::Reference: {
        hxb::ReferenceNumbering numbering;
        for_each_entry(x, offsets, count, true, [&](std::uint32_t entry) -> std::uint32_t {
            if (!read_columns(x, entry, columns))
                return 0;
            return numbering.number_of(x.token.get(), columns.token_length);
        });
        return;
    }
    case Feature::QueryLength:
    case Feature::EndPosition: {
        const bool end_position = x.row.feature == Feature::EndPosition;
        for_each_entry(x, offsets, count, true, [&](std::uint32_t entry) -> std::uint32_t {
            if (!read_columns(x, entry, columns))
                return 0;
            const CigarWalk& walk = columns.cigar;
            if (!walk.valid)
                stop_invalid_cigar(x.files, x.writer);
            if (!end_position)
                return two_byte_value(x.files, walk.spans.query, entry);
            const auto position = static_cast<std::uint32_t>(columns.number);
            // The span counts modulo 2^32, as the 4-byte column does.
            const auto span = static_cast<std::uint32_t>(walk.spans.reference);
            return walk.unavailable ? position : position + span - 1u;
        });
        return;
    }
    default: // the simple features: one number column, cut to the width by the writer
        for_each_entry(x, offsets, count, true, [&](std::uint32_t entry) -> std::uint32_t {
            if (!read_columns(x, entry, columns))
                return 0;
            return static_cast<std::uint32_t>(columns.number);
        });
        return;
    }
}

template <class Offset> void extract_entries(const DecodedCall& call, CallFiles& files) {
    const auto* offsets = static_cast<const Offset*>(call.offsets);
    Extraction x(files, *call.row);
    switch (call.row->feature) {
    case Feature::FastqLength:
        for_each_entry(x, offsets, call.count, true, [&](std::uint32_t entry) -> std::uint32_t {
            const std::uint64_t length = fastq_length(x.in);
            // A read cut short by an input error is that error, whatever it counted so far.
            return x.in.failed() ? 0 : two_byte_value(x.files, length, entry);
        });
        break;
    case Feature::FastaLength: {
        const std::uint64_t mask = sizeof(Offset) == 8 ? ~std::uint64_t{0} : 0xFFFFFFFFu;
        for_each_entry(x, offsets, call.count, true, [&](std::uint32_t entry) {
            return fasta_length(x.in, offsets[std::uint64_t{entry} + 1], mask);
        });
        break;
    }
    default:
        extract_sam(x, offsets, call.count);
        break;
    }
    finish_call(files, x.writer);
}

// The extraction routine of one offset width: takes the entry's arguments unchanged.
template <class Offset>
void extractfeature(int /*outCount*/, haArray* /*outSlots*/[], int /*inCount*/,
                    const haArray* inArgs[]) {
    static_assert(sizeof(Offset) == 4 || sizeof(Offset) == 8, "32- or 64-bit offsets");
    CallFiles files;
    const DecodedCall call = decode_inputs(inArgs, sizeof(Offset) == 8, files);
    extract_entries<Offset>(call, files);
}

} // namespace traitmark
