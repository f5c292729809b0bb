// The contract of traitmark in one place: the text limits of its nine inputs, every error it
// raises (identifier and message), the indexer types, the features each offers (the width of
// a value in the index file, the SAM columns read for it, its errors in the order they are
// checked) and the feature types accepted. raise_error (contract.cpp) is the one way traitmark
// raises. Message texts are the system's own, byte for byte; where the system misspells one,
// the row says so, and the spelling must stay.
#pragma once

#include "contract_rows.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace traitmark {

// ---------------------------------------------------------------------------------------------
// Inputs. Text inputs are read into buffers of these sizes (a text of that many bytes or more,
// the terminating zero counted, fails as an invalid text); inputs are numbered from 1.

constexpr std::size_t kTypeBuffer = 128;     // inputs 1 (indexer type), 2 (feature name) and
                                             // 3 (feature type)
constexpr std::size_t kFileNameBuffer = 256; // inputs 4 (the input file) and 5 (the index file)
// Input 6 is not used; 7 is the number of entries (one uint32), 8 the offset width flag (its
// low eight bits, nonzero for 64-bit offsets), 9 the entry offsets (uint64 or uint32 as input
// 8 says). No output may be asked for.
constexpr int kInputCount = 9;
constexpr int kMaxOutputs = 0;

// ---------------------------------------------------------------------------------------------
// Errors. Every identifier is "helixo:traitmark:" and the row's name.

// Every error traitmark raises; the value is the error's row in kErrorRows.
enum class Error : std::uint8_t {
    // The entry and the inputs, before either file is open.
    InputCount,
    OutputCount,
    InvalidIndexerType,
    UnknownIndexerType,
    InvalidFeatureName,
    UnknownSamFeature,
    UnknownFastaFeature,
    UnknownFastqFeature,
    InvalidFeatureType,
    UnknownFeatureType,
    InvalidInputName,
    CannotOpenInput,
    // With the input file open (it is closed first).
    InvalidIndexName,
    CannotOpenIndex,
    // With both files open (the input file is closed first, then the index file).
    InvalidEntryCount,
    InvalidOffsets,
    // The extraction: the index file is cut back to its starting size first, except after an
    // invalid CIGAR, where the values of the entries before it stay.
    Interrupted,
    FieldTooLong,
    ValueOutOfRange,
    InvalidCigar,
    CannotReadInput,
    CannotWriteIndex,
};

struct ErrorRow {
    Error error;
    const char* name; // the identifier's last part
    const char* text; // the message; each "{}" stands for a number given where it is raised
};

inline constexpr ErrorRow kErrorRows[] = {
    {Error::InputCount, "InvalidNumInputArg", "Nine input arguments required."},
    {Error::OutputCount, "InvalidNumOutputArg", "Too many output arguments."},
    {Error::InvalidIndexerType, "InvalidIndexerType", "Invalid indexer type."},
    {Error::UnknownIndexerType, "UnknownIndexerType", "Unknown indexer type."},
    {Error::InvalidFeatureName, "InvalidFeatureName", "Invalid feature name."},
    // The identifiers say "FeatureType" although the feature name is unknown, as the system
    // names them.
    {Error::UnknownSamFeature, "UnknownSamFeatureType", "Unknown feature name in SAM format."},
    {Error::UnknownFastaFeature, "UnknownFastaFeatureType",
     "Unknown feature name in FASTA format."},
    {Error::UnknownFastqFeature, "UnknownFastqFeatureType",
     "Unknown feature name in FASTQ format."},
    {Error::InvalidFeatureType, "InvalidFeatureType", "Invalid feature type."},
    {Error::UnknownFeatureType, "UnknownFeatureType", "Unknown feature type."},
    {Error::InvalidInputName, "InvalidFileName", "Invalid input file name."},
    {Error::CannotOpenInput, "CannotOpenInFile", "Could not open input file."},
    {Error::InvalidIndexName, "InvalidFileName", "Invalid index file name."},
    // The index file must exist: it is opened for reading first (to learn its size), then for
    // appending; either failure raises this row.
    {Error::CannotOpenIndex, "CannotOpenIdxFile", "Could not open output index file."},
    {Error::InvalidEntryCount, "InvalidNumEntries", "Invalid number of entries."},
    // "ofsets": kept as the system spells it (the identifier is singular, the message not).
    {Error::InvalidOffsets, "InvalidOffset", "Invalid ofsets."},
    // "Iterrupted": kept as the system spells it.
    {Error::Interrupted, "IterruptedByUser", "Operation terminated by user."},
    // The 1-based entry number; a QNAME or RNAME column longer than kMaxToken (sam_fields.h).
    {Error::FieldTooLong, "InvalidEntry", "Field too long in entry {}."},
    // The value, the 1-based entry number and the width of the feature's column in bytes.
    {Error::ValueOutOfRange, "ValueOutOfRange", "Value {} of entry {} does not fit {} bytes."},
    {Error::InvalidCigar, "InvalidCIGAR", "Invalid CIGAR string."},
    // The 1-based entry number.
    {Error::CannotReadInput, "CannotReadInFile", "Could not read input file at entry {}."},
    {Error::CannotWriteIndex, "CannotWriteIdxFile", "Cannot write into output index file."},
};

constexpr const ErrorRow& error_row(Error error) {
    return kErrorRows[static_cast<std::size_t>(error)];
}

static_assert(hxb::rows_in_enum_order(kErrorRows),
              "kErrorRows must list the errors in their declared order");

// Raises the error's row, numbers standing for the "{}" of its message in order. Files still
// open are closed (and the index file cut back) by the caller first.
[[noreturn]] void raise_error(Error error, std::initializer_list<std::uint64_t> numbers = {});

// A fixed list of errors.
using ErrorList = hxb::Rows<Error>;

// ---------------------------------------------------------------------------------------------
// The checks of every call, in this order: the counts, the indexer type, the feature name (then
// the indexer type's own unknown-feature error, IndexerTypeRow::unknown_feature), then the
// rest. The offsets must be a real vector of the class input 8 names, with at least one element
// per entry (one more for the FASTA length, which reads the next entry's offset); an empty one
// counts when there is no entry.
inline constexpr Error kErrorsBeforeFeature[] = {
    Error::InputCount, Error::OutputCount, Error::InvalidIndexerType, Error::UnknownIndexerType,
    Error::InvalidFeatureName};
inline constexpr Error kErrorsAfterFeature[] = {
    Error::InvalidFeatureType, Error::UnknownFeatureType, Error::InvalidInputName,
    Error::CannotOpenInput,    Error::InvalidIndexName,   Error::CannotOpenIndex,
    Error::InvalidEntryCount,  Error::InvalidOffsets};

// Each feature's extraction errors, in the order they are checked for an entry: the user's
// stop is polled before each entry, the entry's value is read, then a failed read of the input
// file is raised and the value appended (a failed write). The last write happens when the
// index file is closed at the end.

// One number column, or a FASTA sequence length.
inline constexpr Error kPlainValueErrors[] = {Error::Interrupted, Error::CannotReadInput,
                                              Error::CannotWriteIndex};
// A text column held in the token buffer (QNAME for "MateIndex", RNAME for "Reference").
inline constexpr Error kTokenValueErrors[] = {Error::Interrupted, Error::FieldTooLong,
                                              Error::CannotReadInput, Error::CannotWriteIndex};
// The CIGAR's query length, into a 2-byte column.
inline constexpr Error kQueryLengthErrors[] = {Error::Interrupted, Error::InvalidCigar,
                                               Error::ValueOutOfRange, Error::CannotReadInput,
                                               Error::CannotWriteIndex};
// POS and the CIGAR's reference span.
inline constexpr Error kEndPositionErrors[] = {Error::Interrupted, Error::InvalidCigar,
                                               Error::CannotReadInput, Error::CannotWriteIndex};
// The FASTQ sequence length, into a 2-byte column.
inline constexpr Error kFastqLengthErrors[] = {Error::Interrupted, Error::ValueOutOfRange,
                                               Error::CannotReadInput, Error::CannotWriteIndex};

// ---------------------------------------------------------------------------------------------
// Indexer types and features.

struct IndexerTypeRow {
    const char* name;      // input 1, compared whole and case-sensitively
    Error unknown_feature; // a feature name this type does not offer
};

// Matched in this order.
inline constexpr IndexerTypeRow kIndexerTypes[] = {
    {"sam", Error::UnknownSamFeature},
    {"fasta", Error::UnknownFastaFeature},
    {"fastq", Error::UnknownFastqFeature},
};

// The extraction a feature runs (extract_entries and extract_sam in extract.h).
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

// The SAM columns a feature reads, one letter per column from the first (QNAME) on, for
// read_sam_columns (sam_fields.h): 's' skips a text column, 'u' skips a number column (which
// must be all decimal digits), 'N' reads the number column the value comes from, 'S' reads a
// text column into the token buffer (at most kMaxToken characters, else FieldTooLong), 'C'
// walks the CIGAR column for its query length and reference span. The columns after the last
// letter are never looked at; a missing column or a number column that is not all digits makes
// the entry unreadable and its value 0. A pattern holds at most one 'N', one 'S' and one 'C'.
struct FeatureRow {
    const char* indexer_type;
    const char* name; // input 2, compared whole and case-sensitively
    Feature feature;
    unsigned width;      // bytes per value, whatever feature type the caller names
    const char* columns; // SAM columns read (see above); empty for FASTA and FASTQ
    ErrorList errors;    // the extraction's errors, after the checks of every call
};

// Tried in this order within each indexer type.
inline constexpr FeatureRow kFeatures[] = {
    // QNAME skipped, FLAG read.
    {"sam", "Flag", Feature::Flag, 2, "sN", kPlainValueErrors},
    // QNAME, FLAG, RNAME passed, POS read.
    {"sam", "Position", Feature::Position, 4, "susN", kPlainValueErrors},
    // QNAME, FLAG, RNAME, POS passed, MAPQ read.
    {"sam", "MappingQuality", Feature::MappingQuality, 1, "susuN", kPlainValueErrors},
    // QNAME to RNEXT passed (CIGAR and RNEXT as text), PNEXT read.
    {"sam", "MatePosition", Feature::MatePosition, 4, "susuussN", kPlainValueErrors},
    // QNAME held, FLAG read: properly paired entries of one QNAME are paired in call order.
    {"sam", "MateIndex", Feature::MateIndex, 4, "SN", kTokenValueErrors},
    // QNAME, FLAG, RNAME, POS, MAPQ passed, CIGAR walked.
    {"sam", "QueryLength", Feature::QueryLength, 2, "susuuC", kQueryLengthErrors},
    // QNAME, FLAG, RNAME passed, POS read, MAPQ passed, CIGAR walked.
    {"sam", "EndPosition", Feature::EndPosition, 4, "susNuC", kEndPositionErrors},
    // QNAME, FLAG passed, RNAME held: numbered by first appearance, "*" being 0.
    {"sam", "Reference", Feature::Reference, 1, "suS", kTokenValueErrors},
    // The sequence characters of the lines up to the next entry's offset.
    {"fasta", "Length", Feature::FastaLength, 4, "", kPlainValueErrors},
    // The sequence characters of the line after the header.
    {"fastq", "Length", Feature::FastqLength, 2, "", kFastqLengthErrors},
};

// Input 3: accepted and otherwise without effect, as the feature fixes the width.
inline constexpr const char* kFeatureTypes[] = {"uint8", "uint16", "uint32", "char"};

// The rows named exactly (whole, case-sensitive) by name, or null; a feature only among its
// indexer type's rows.
const IndexerTypeRow* find_indexer_type(const char* name);
const FeatureRow* find_feature(const IndexerTypeRow& type, const char* name);
bool is_feature_type(const char* name);

} // namespace traitmark
