// The eleven per-alignment features of the feature services: names, output arrays, and the
// value one alignment writes into one row.
#pragma once

#include "hx.h"

#include <samtools/bam.h>

#include <cstdint>
#include <string>

namespace alignport {

// A feature's code is its row in the table; names are matched in code order.
enum FeatureCode : std::uint8_t {
    kFlag = 0,
    kPosition,
    kMappingQuality,
    kMatePosition,
    kMateIndex,
    kQueryLength,
    kEndPosition,
    kSignature,
    kSequence,
    kHeader,
    kQuality,
    kFeatureCount
};

// How quality bytes become characters: the single-feature service takes them as signed 8-bit
// values, the multi-feature service as unsigned (a missing quality, 255, gives 32 or 288).
enum class QualityBytes { Signed, Unsigned };

// Code of the feature named exactly name, or -1.
int find_feature(const char* name);

// Where a feature's values go: numeric features store into data, the others set cells of array.
struct FeatureOutput {
    haArray* array = nullptr;
    void* data = nullptr;
};

// New m-by-1 output of the feature: zero-filled numeric array of its class, or empty cells.
// The array belongs to the host's call (it is freed unless stored in an output slot).
FeatureOutput create_feature_output(int code, haSize m);

// Writes the record's value of the feature into element row of out. scratch is reused text
// space for the CIGAR (no allocation once it has grown to the longest CIGAR text).
void write_feature(int code, const FeatureOutput& out, haSize row, const bam1_t* b,
                   QualityBytes quality, std::string& scratch);

} // namespace alignport
