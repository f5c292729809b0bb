// The contract of alignport in one place: every error it raises (identifier, message and the form
// in which the two are written), and for each of the nineteen services its name, what the
// dispatcher opens for it, how many inputs and outputs it takes, the text limits of its inputs
// and its errors in the order it checks them. contract.cpp binds the names to the service
// functions (the table the dispatcher dispatches from) and holds raise_error, the one way
// alignport raises. Message texts are the system's own, byte for byte; where the system
// misspells one, the row says so, and the spelling must stay.
#pragma once

#include "contract_rows.h"
#include "services.h"

#include <cstddef>
#include <cstdint>

namespace alignport {

using hxb::Rows;
template <class T, std::size_t N> constexpr Rows<T> rows_of(const T (&array)[N]) {
    return Rows<T>(array);
}

// ---------------------------------------------------------------------------------------------
// Text limits: the buffers text inputs are read into (a text of that many bytes or more, the
// terminating zero counted, fails as an invalid text).

constexpr std::size_t kServiceNameBuffer = 256;    // the service name, read by the dispatcher
constexpr std::size_t kDispatchedNameBuffer = 256; // BAM and BAI names the dispatcher reads
constexpr std::size_t kFileNameBuffer = 512;       // a file name or prefix a service reads itself
constexpr std::size_t kReferenceTextBuffer = 256;  // a reference name or region text
constexpr std::size_t kFormatNameBuffer = 64;      // bam2bam's input and output format names
constexpr std::size_t kFeatureNameBuffer = 256;    // one feature name

// One text input of a service: its place among the service's inputs and its buffer.
struct TextLimit {
    int input; // 0-based, after the dispatcher's leading inputs
    std::size_t bytes;
};

// ---------------------------------------------------------------------------------------------
// Errors.

// How a row's identifier and message are written. Every identifier begins "helixo:alignport:".
enum class Form : std::uint8_t {
    Plugin,         // identifier "helixo:alignport:NAME", message "TEXT"
    Service,        // identifier "helixo:alignport:SERVICE:NAME", message "SERVICE: TEXT"
    ServiceNoBlank, // as Service, but the message is "SERVICE:TEXT": no blank after the colon,
                    // kept as the system writes these four messages
    ServiceBare,    // identifier "helixo:alignport:SERVICE:NAME", message "TEXT"
};

// Every error alignport raises; the value is the error's row in kErrorRows.
enum class Error : std::uint8_t {
    // The dispatcher.
    InputCount,
    InvalidServiceType,
    UnknownServiceType,
    InvalidBamName,
    CannotOpenBam,
    InvalidBaiName,
    IndexMissing,
    // Counts every service checks first.
    ServiceInputCount,
    ServiceOutputCount,
    // Shared by several services.
    InvalidRefName,
    InvalidRegion,
    InvalidReference,
    CorruptedBam,
    Interrupted,
    // The feature services.
    InvalidFeatureType,
    UnknownFeatureType,
    FeaturesNotCellString,
    DuplicatedFeatureType,
    OutputsNotFeatures,
    EmptyIndex,
    IndexNotUint32,
    StartsNotInteger,
    IndexOutOfRange,
    QueryLengthTooLong,
    // Conversion.
    InvalidInputName,
    InvalidInputFormat,
    InvalidOutputName,
    InvalidOutputFormat,
    SelectionNotVector,
    SelectionNotUint32,
    InvalidSamName,
    CannotOpenSam,
    BamHeaderMissing,
    SamHeaderMissing,
    BamCorruptedAsSam,
    CorruptedSam,
    SamLineRefused,
    CannotCreateOutput,
    CannotCreateBam,
    CannotWriteOutput,
    BadSelection,
    // Index building and sorting.
    CannotOpenIndexOutput,
    CannotBuildIndex,
    InvalidPrefix,
    // Dumps.
    InvalidIndices,
    IndicesSpanReferences,
    IndicesNameNoReference,
    // The SAM writers.
    WriterInvalidSamName,
    WriterCannotOpen,
    WriterInvalidRefName,
    WriterInvalidRegion,
    WriterCannotWrite,
};

struct ErrorRow {
    Error error;
    const char* name; // the identifier's last part
    Form form;
    const char* text; // nullptr: the message is formatted where raised (the row says how)
};

// Texts that more than one row gives.
constexpr const char kTextInputCount[] = "Invalid number of input arguments required.";
constexpr const char kTextBamCorrupted[] = "BAM file is corrupted.";
constexpr const char kTextInvalidSamName[] = "Invalid SAM file name.";
constexpr const char kTextCannotOpenSam[] = "Could not open SAM file.";
constexpr const char kTextInvalidRefName[] = "Invalid reference name.";
constexpr const char kTextInvalidRegion[] = "Invalid region.";
constexpr const char kTextCannotWrite[] = "Cannot write into output file.";

inline constexpr ErrorRow kErrorRows[] = {
    {Error::InputCount, "InvalidNumInputArg", Form::Plugin, kTextInputCount},
    {Error::InvalidServiceType, "InvalidServiceType", Form::Plugin, "Invalid service type."},
    {Error::UnknownServiceType, "UnknownServiceType", Form::Plugin, "Unknown service type."},
    {Error::InvalidBamName, "InvalidFileName", Form::Plugin, "Invalid BAM file name."},
    {Error::CannotOpenBam, "CannotOpenInFile", Form::Plugin, "Could not open BAM file."},
    {Error::InvalidBaiName, "InvalidFileName", Form::Plugin, "Invalid BAI file name."},
    {Error::IndexMissing, "BAMIndexMissing", Form::Plugin,
     "BAM indexing file (BAI) is not available or is corrupt."},

    {Error::ServiceInputCount, "InvalidNumInputArg", Form::Service, kTextInputCount},
    {Error::ServiceOutputCount, "InvalidNumOutputArg", Form::Service, "Too many output arguments."},

    {Error::InvalidRefName, "InvalidRefName", Form::Plugin, kTextInvalidRefName},
    {Error::InvalidRegion, "InvalidRegion", Form::Plugin, kTextInvalidRegion},
    {Error::InvalidReference, "InvalidReference", Form::Service, "Invalid reference number."},
    {Error::CorruptedBam, "CorruptedBAMFile", Form::Plugin, kTextBamCorrupted},
    // "Iterrupted": kept as the system spells it.
    {Error::Interrupted, "IterruptedByUser", Form::Plugin, "Operation terminated by user."},

    {Error::InvalidFeatureType, "InvalidFeatureType", Form::ServiceNoBlank,
     "Invalid feature type."},
    {Error::UnknownFeatureType, "UnknownFeatureType", Form::ServiceNoBlank,
     "Unknown feature type."},
    {Error::FeaturesNotCellString, "InvalidFeatureType", Form::ServiceNoBlank,
     "Features must be given in a cell string."},
    {Error::DuplicatedFeatureType, "DuplicatedFeatureType", Form::ServiceNoBlank,
     "Duplicated feature type."},
    // "outpur": kept as the system spells it.
    {Error::OutputsNotFeatures, "InvalidNumOutputArg", Form::Service,
     "Invalid number of output arguments required, number of outpur arguments must be the same "
     "as the number of elements in {feat}."},
    // Both feature services give the single-feature service's text; only the identifier names
    // the service called.
    {Error::EmptyIndex, "InvalidIndexing", Form::ServiceBare,
     "getfeatureinrefbyindex: Index should not be empty."},
    {Error::IndexNotUint32, "InvalidIndexing", Form::Service, "Index must be a uint32 vector."},
    {Error::StartsNotInteger, "InvalidIndexing", Form::Service,
     "Starts must be an int32 or uint32 vector."},
    {Error::IndexOutOfRange, "InvalidIndexing", Form::Service,
     "Index out of range of the starts vector."},
    // "QueryLength of alignment N is V, more than 65535." (N the alignment number).
    {Error::QueryLengthTooLong, "ValueOutOfRange", Form::Service, nullptr},

    {Error::InvalidInputName, "InvalidFileName", Form::Plugin, "Invalid input file name."},
    {Error::InvalidInputFormat, "InvalidFormatName", Form::Plugin, "Invalid input format."},
    {Error::InvalidOutputName, "InvalidFileName", Form::Plugin, "Invalid output file name."},
    {Error::InvalidOutputFormat, "InvalidFormatName", Form::Plugin, "Invalid output format."},
    // The selection is bam2bam's fifth input; the system calls it the third.
    {Error::SelectionNotVector, "InvalidSize", Form::Plugin,
     "Third input argument must be a real vector."},
    {Error::SelectionNotUint32, "InvalidType", Form::Plugin,
     "Third input argument must be uint32."},
    {Error::InvalidSamName, "InvalidFileName", Form::Plugin, kTextInvalidSamName},
    {Error::CannotOpenSam, "CannotOpenInFile", Form::Plugin, kTextCannotOpenSam},
    {Error::BamHeaderMissing, "CorruptedHeaderSAMFile", Form::Plugin,
     "BAM file has a missing or corrupted header."},
    {Error::SamHeaderMissing, "CorruptedHeaderSAMFile", Form::Plugin,
     "SAM file has a missing or corrupted header."},
    // The SAM identifier with the BAM text, as the system gives it for bam2bam and bamsort.
    {Error::BamCorruptedAsSam, "CorruptedSAMFile", Form::Plugin, kTextBamCorrupted},
    {Error::CorruptedSam, "CorruptedSAMFile", Form::Plugin, "SAM file is corrupted."},
    // "SAM line N: REASON" (format_sam_line_message in sam_read_guard.h).
    {Error::SamLineRefused, "CorruptedSAMFile", Form::Plugin, nullptr},
    {Error::CannotCreateOutput, "CannotOpenOutFile", Form::Plugin, "Could not create output file."},
    {Error::CannotCreateBam, "CannotOpenOutFile", Form::Plugin, "Could not create new BAM file."},
    {Error::CannotWriteOutput, "CannotWriteBAMFile", Form::Plugin, kTextCannotWrite},
    {Error::BadSelection, "BadIndex", Form::Plugin,
     "Index is not positive, unique and monotonic increasing."},

    {Error::CannotOpenIndexOutput, "CannotOpenIdxFile", Form::Plugin,
     "Could not open output index file."},
    {Error::CannotBuildIndex, "CannotBuildIndex", Form::Service,
     "Could not build the BAI index; is the BAM file sorted by coordinate?"},
    // "temporal": kept as the system words it.
    {Error::InvalidPrefix, "InvalidPrefix", Form::Plugin,
     "Invalid prefix for output and temporal BAM file name."},

    {Error::InvalidIndices, "InvalidIndices", Form::Service, "Invalid indices."},
    {Error::IndicesSpanReferences, "InvalidIndices", Form::Service,
     "Indices span multiple references."},
    {Error::IndicesNameNoReference, "InvalidIndices", Form::Service,
     "Indices do not name a reference."},

    {Error::WriterInvalidSamName, "InvalidFileName", Form::ServiceBare, kTextInvalidSamName},
    {Error::WriterCannotOpen, "CannotOpenFile", Form::ServiceBare, kTextCannotOpenSam},
    {Error::WriterInvalidRefName, "InvalidRefName", Form::ServiceBare, kTextInvalidRefName},
    {Error::WriterInvalidRegion, "InvalidRegion", Form::ServiceBare, kTextInvalidRegion},
    {Error::WriterCannotWrite, "CannotWriteFile", Form::ServiceBare, kTextCannotWrite},
};

constexpr const ErrorRow& error_row(Error error) {
    return kErrorRows[static_cast<std::size_t>(error)];
}

static_assert(hxb::rows_in_enum_order(kErrorRows),
              "kErrorRows must list the errors in their declared order");

// Raises the error's row: identifier and message in the row's form, SERVICE being the name of
// the service called. text stands in for the row's text where the row's message is formatted
// where raised (and only there). Plugin rows need no service.
[[noreturn]] void raise_error(Error error);
[[noreturn]] void raise_error(ServiceId service, Error error);
[[noreturn]] void raise_error(ServiceId service, Error error, const char* text);

// ---------------------------------------------------------------------------------------------
// Services. Each list gives the service's own errors in the order it checks them (an error
// checked at several points is listed where it is first checked). Before any of them come the
// dispatcher's: the first three on every call, the next two for services it opens the BAM file
// for, the last three for those it also loads the index for.

inline constexpr Error kDispatcherErrors[] = {Error::InputCount,         Error::InvalidServiceType,
                                              Error::UnknownServiceType, Error::InvalidBamName,
                                              Error::CannotOpenBam,      Error::InputCount,
                                              Error::InvalidBaiName,     Error::IndexMissing};

// validatereferencestring(name): the reference number the library's region parser stores for
// the text, -1 when it names none.
inline constexpr Error kValidateReferenceStringErrors[] = {
    Error::ServiceInputCount, Error::ServiceOutputCount, Error::InvalidRefName};
inline constexpr TextLimit kValidateReferenceStringTexts[] = {{0, kReferenceTextBuffer}};

// getnumberofreferences(): the number of references in the header.
inline constexpr Error kGetNumberOfReferencesErrors[] = {Error::ServiceInputCount,
                                                         Error::ServiceOutputCount};

// getreferencestring(k): the name of reference k (0-based).
inline constexpr Error kGetReferenceStringErrors[] = {
    Error::ServiceInputCount, Error::ServiceOutputCount, Error::InvalidReference};

// getstartsinref(r): starts, ends and flags of reference r's alignments; the whole reference is
// walked, polling for the user's stop when outputs are asked for.
inline constexpr Error kGetStartsInRefErrors[] = {
    Error::ServiceInputCount, Error::ServiceOutputCount, Error::InvalidReference,
    Error::CorruptedBam, Error::Interrupted};

// getfeatureinrefbyindex(feature, r, index, starts): one feature of the alignments the index
// names; every input is checked even when no output is asked for.
inline constexpr Error kGetFeatureInRefByIndexErrors[] = {
    Error::ServiceInputCount,  Error::ServiceOutputCount, Error::InvalidFeatureType,
    Error::UnknownFeatureType, Error::InvalidReference,   Error::EmptyIndex,
    Error::IndexNotUint32,     Error::StartsNotInteger,   Error::IndexOutOfRange,
    Error::QueryLengthTooLong, Error::CorruptedBam,       Error::Interrupted};
inline constexpr TextLimit kGetFeatureInRefByIndexTexts[] = {{0, kFeatureNameBuffer}};

// getfeaturesinrefbyindex(features, r, index, starts): one output per named feature; the
// number of outputs is checked against the names, not against a fixed maximum.
inline constexpr Error kGetFeaturesInRefByIndexErrors[] = {
    Error::ServiceInputCount,     Error::FeaturesNotCellString,
    Error::InvalidFeatureType,    Error::UnknownFeatureType,
    Error::DuplicatedFeatureType, Error::OutputsNotFeatures,
    Error::InvalidReference,      Error::EmptyIndex,
    Error::IndexNotUint32,        Error::StartsNotInteger,
    Error::IndexOutOfRange,       Error::QueryLengthTooLong,
    Error::CorruptedBam,          Error::Interrupted};
inline constexpr TextLimit kGetFeaturesInRefByIndexTexts[] = {{0, kFeatureNameBuffer}};

// indexbamfile(bam, bai): writes the BAI of a coordinate-sorted BAM file; a failed build
// leaves no new file and an existing one as it was.
inline constexpr Error kIndexBamFileErrors[] = {
    Error::ServiceInputCount,     Error::ServiceOutputCount, Error::InvalidBamName,
    Error::InvalidBaiName,        Error::CannotOpenBam,      Error::CorruptedBam,
    Error::CannotOpenIndexOutput, Error::CannotBuildIndex,   Error::CannotWriteOutput};
inline constexpr TextLimit kIndexBamFileTexts[] = {{0, kFileNameBuffer}, {1, kFileNameBuffer}};

// sam2bam(sam, bam): the SAM file as BAM.
inline constexpr Error kSam2BamErrors[] = {
    Error::ServiceInputCount, Error::ServiceOutputCount, Error::InvalidSamName,
    Error::InvalidBamName,    Error::SamLineRefused,     Error::CannotOpenSam,
    Error::SamHeaderMissing,  Error::CorruptedSam,       Error::CannotCreateBam,
    Error::Interrupted,       Error::CannotWriteOutput};
inline constexpr TextLimit kSam2BamTexts[] = {{0, kFileNameBuffer}, {1, kFileNameBuffer}};

// bam2bam(in, informat, out, outformat, selection): the records of a SAM or BAM file, all of
// them or those the selection numbers, as SAM, BAM, FASTQ or FASTA. Every open error names the
// SAM file, whatever the input format.
inline constexpr Error kBam2BamErrors[] = {
    Error::ServiceInputCount,  Error::ServiceOutputCount, Error::InvalidInputName,
    Error::InvalidInputFormat, Error::InvalidOutputName,  Error::InvalidOutputFormat,
    Error::SelectionNotVector, Error::SelectionNotUint32, Error::SamLineRefused,
    Error::CannotOpenSam,      Error::BamHeaderMissing,   Error::BamCorruptedAsSam,
    Error::CannotCreateOutput, Error::Interrupted,        Error::CannotWriteOutput,
    Error::BadSelection};
inline constexpr TextLimit kBam2BamTexts[] = {
    {0, kFileNameBuffer}, {1, kFormatNameBuffer}, {2, kFileNameBuffer}, {3, kFormatNameBuffer}};

// bamsort(bam, prefix): the BAM file sorted by coordinate into PREFIX.bam.
inline constexpr Error kBamSortErrors[] = {Error::ServiceInputCount,  Error::ServiceOutputCount,
                                           Error::InvalidBamName,     Error::CannotOpenBam,
                                           Error::BamCorruptedAsSam,  Error::InvalidPrefix,
                                           Error::CannotCreateOutput, Error::CannotWriteOutput};
inline constexpr TextLimit kBamSortTexts[] = {{0, kFileNameBuffer}, {1, kFileNameBuffer}};

// baminfo(bam): whether the file is sorted by coordinate and the records of each reference.
inline constexpr Error kBamInfoErrors[] = {Error::ServiceInputCount, Error::ServiceOutputCount,
                                           Error::InvalidBamName,    Error::CannotOpenBam,
                                           Error::Interrupted,       Error::CorruptedBam};
inline constexpr TextLimit kBamInfoTexts[] = {{0, kFileNameBuffer}};

// saminfo(sam): baminfo's answers for SAM text, with the reference names as they appear.
inline constexpr Error kSamInfoErrors[] = {Error::ServiceInputCount, Error::ServiceOutputCount,
                                           Error::InvalidSamName,    Error::CannotOpenSam,
                                           Error::CorruptedSam,      Error::Interrupted};
inline constexpr TextLimit kSamInfoTexts[] = {{0, kFileNameBuffer}};

// getheader(bam): the header text, the reference names and their lengths.
inline constexpr Error kGetHeaderErrors[] = {Error::ServiceInputCount, Error::ServiceOutputCount,
                                             Error::InvalidBamName, Error::CannotOpenBam};
inline constexpr TextLimit kGetHeaderTexts[] = {{0, kFileNameBuffer}};

// writesambyregion(sam, region, optional, contained): SAM lines of a region appended to a text
// file. These errors name the service in the identifier only.
inline constexpr Error kWriteSamByRegionErrors[] = {
    Error::ServiceInputCount, Error::ServiceOutputCount,   Error::WriterInvalidSamName,
    Error::WriterCannotOpen,  Error::WriterInvalidRefName, Error::WriterInvalidRegion,
    Error::WriterCannotWrite, Error::CorruptedBam,         Error::Interrupted};
inline constexpr TextLimit kWriteSamByRegionTexts[] = {{0, kFileNameBuffer},
                                                       {1, kReferenceTextBuffer}};

// writesamunaligned(sam, optional): SAM lines of the unplaced reads appended to a text file.
inline constexpr Error kWriteSamUnalignedErrors[] = {
    Error::ServiceInputCount, Error::ServiceOutputCount, Error::WriterInvalidSamName,
    Error::WriterCannotOpen,  Error::Interrupted,        Error::CorruptedBam,
    Error::WriterCannotWrite};
inline constexpr TextLimit kWriteSamUnalignedTexts[] = {{0, kFileNameBuffer}};

// dumpinfobyregion(region): prints the header and the alignments of the region.
inline constexpr Error kDumpInfoByRegionErrors[] = {
    Error::ServiceInputCount, Error::ServiceOutputCount, Error::InvalidRefName,
    Error::InvalidRegion, Error::CorruptedBam};
inline constexpr TextLimit kDumpInfoByRegionTexts[] = {{0, kReferenceTextBuffer}};

// dumpinfobyindex(first, last): prints records first to last (numbered in the file), which
// must lie in the run of one reference.
inline constexpr Error kDumpInfoByIndexErrors[] = {
    Error::ServiceInputCount, Error::ServiceOutputCount,    Error::CorruptedBam,
    Error::InvalidIndices,    Error::IndicesSpanReferences, Error::IndicesNameNoReference};

// dumpinfoinrefbyindex(r, first, last): prints alignments first to last of reference r.
inline constexpr Error kDumpInfoInRefByIndexErrors[] = {
    Error::ServiceInputCount, Error::ServiceOutputCount, Error::InvalidReference,
    Error::CorruptedBam, Error::InvalidIndices};

// dumpstartsinfo(): prints where each reference's records begin in the file.
inline constexpr Error kDumpStartsInfoErrors[] = {Error::ServiceInputCount,
                                                  Error::ServiceOutputCount, Error::CorruptedBam};

// What the dispatcher opens before the service runs (and closes after it, index first).
enum class Opens : std::uint8_t { Nothing, Bam, BamAndIndex };

using SelfFn = void (*)(ALIGNPORT_SELF_ARGS);
using FileFn = void (*)(ALIGNPORT_FILE_ARGS);
using IndexedFn = void (*)(ALIGNPORT_INDEXED_ARGS);

struct ServiceContract {
    ServiceId id;
    const char* name;
    Opens opens;
    SelfFn self;       // set when opens is Nothing
    FileFn file;       // set when opens is Bam
    IndexedFn indexed; // set when opens is BamAndIndex
    int inputs;        // inputs after the dispatcher's leading ones
    int max_outputs;   // -1: the service checks its outputs itself
    Rows<TextLimit> texts;
    Rows<Error> errors;
};

// The service named exactly name, or nullptr.
const ServiceContract* find_service(const char* name);

// The contract of a service.
const ServiceContract& contract_of(ServiceId service);

} // namespace alignport
