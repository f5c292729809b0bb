// The tables of the plug-in: indexer types and the features each offers, with the width in
// bytes that every value takes in the index file and, for SAM, the columns that are read.
#pragma once

#include <cstdint>

namespace traitmark {

enum class Feature {
    Flag,
    Position,
    MappingQuality,
    MatePosition,
    MateIndex,
    QueryLength,
    EndPosition,
    Reference,
    FastaLength,
    FastqLength
};

struct FeatureRow {
    const char* indexer_type;
    const char* name;
    Feature feature;
    unsigned width;      // bytes per value, whatever feature type the caller names
    const char* columns; // SAM columns read (see read_sam_columns); empty for line reads
};

// Tried in this order within each indexer type.
constexpr FeatureRow kFeatures[] = {
    {"sam", "Flag", Feature::Flag, 2, "sN"},
    {"sam", "Position", Feature::Position, 4, "susN"},
    {"sam", "MappingQuality", Feature::MappingQuality, 1, "susuN"},
    {"sam", "MatePosition", Feature::MatePosition, 4, "susuussN"},
    {"sam", "MateIndex", Feature::MateIndex, 4, "SN"},
    {"sam", "QueryLength", Feature::QueryLength, 2, "susuuC"},
    {"sam", "EndPosition", Feature::EndPosition, 4, "susNuC"},
    {"sam", "Reference", Feature::Reference, 1, "suS"},
    {"fasta", "Length", Feature::FastaLength, 4, ""},
    {"fastq", "Length", Feature::FastqLength, 2, ""},
};

struct IndexerTypeRow {
    const char* name;
    const char* unknown_feature_error; // last component of the identifier
    const char* unknown_feature_message;
};

// Matched in this order.
constexpr IndexerTypeRow kIndexerTypes[] = {
    {"sam", "UnknownSamFeatureType", "Unknown feature name in SAM format."},
    {"fasta", "UnknownFastaFeatureType", "Unknown feature name in FASTA format."},
    {"fastq", "UnknownFastqFeatureType", "Unknown feature name in FASTQ format."},
};

// Accepted and otherwise without effect: the feature fixes the width.
constexpr const char* kFeatureTypes[] = {"uint8", "uint16", "uint32", "char"};

} // namespace traitmark
