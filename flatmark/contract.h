// The contract of flatmark in one place: the text limits of its twelve inputs, every error it
// raises (identifier and message), and for each of the five indexer types its name, what the
// type implies for the inputs, its scanner and its errors in the order it checks them.
// contract.cpp binds the names to the scanners and holds raise_error, the one way flatmark
// raises. Message texts are the system's own, byte for byte; where the system misspells one,
// the row says so, and the spelling must stay.
#pragma once

#include "contract_rows.h"

#include <cstddef>
#include <cstdint>

namespace flatmark {

// ---------------------------------------------------------------------------------------------
// Text limits: the buffers text inputs are read into (a text of that many bytes or more, the
// terminating zero counted, fails as an invalid text). Inputs are numbered from 1.

constexpr std::size_t kTypeBuffer = 128;       // input 1, the indexer type
constexpr std::size_t kFileNameBuffer = 256;   // input 2, the input file; 3, the index file
constexpr std::size_t kLongTextBuffer = 32768; // inputs 8 (key token), 9 (comment prefix),
                                               // 10 (header prefix) and 12 (entry delimiter)

// The counts the entry checks first.
constexpr int kInputCount = 12;
constexpr int kMaxOutputs = 2; // 1: the number of entries, 2: the number of lines counted

// ---------------------------------------------------------------------------------------------
// Errors. Every identifier is "helixo:flatmark:" and the row's name.

// Every error flatmark raises; the value is the error's row in kErrorRows.
enum class Error : std::uint8_t {
    // The entry, before either file is open.
    InputCount,
    OutputCount,
    InvalidIndexerType,
    UnknownIndexerType,
    InvalidInputName,
    CannotOpenInput,
    // With the input file open (it is closed first).
    InvalidIndexName,
    CannotOpenIndex,
    // With both files open (the input file is closed first, then the index file).
    InvalidKeyToken,
    InvalidCommentPrefix,
    InvalidHeaderPrefix,
    InvalidFieldDelimiter,
    InvalidEntryDelimiter,
    CannotWriteIndex,
    // The scan.
    CannotReadInput,
    Interrupted,
    KeyNotFound,
    KeyTooLong,
    TooManyEntries,
    OffsetOverflow,
};

struct ErrorRow {
    Error error;
    const char* name; // the identifier's last part
    const char* text; // the message; "{}" stands for the number given where it is raised
};

// The text of two rows.
constexpr const char kTextInvalidCommentPrefix[] = "Invalid comment prefix.";

inline constexpr ErrorRow kErrorRows[] = {
    {Error::InputCount, "InvalidNumInputArg", "Twelve input arguments required."},
    {Error::OutputCount, "InvalidNumOutputArg", "Too many output arguments."},
    {Error::InvalidIndexerType, "InvalidIndexerType", "Invalid indexer type."},
    {Error::UnknownIndexerType, "UnknownIndexerType", "Unknown indexer type."},
    {Error::InvalidInputName, "InvalidFileName", "Invalid input file name."},
    {Error::CannotOpenInput, "CannotOpenInFile", "Could not open input file."},
    {Error::InvalidIndexName, "InvalidFileName", "Invalid index file name."},
    {Error::CannotOpenIndex, "CannotOpenIdxFile", "Could not open output index file."},
    // The key token's failure gives the comment prefix's identifier and message, as the system
    // does.
    {Error::InvalidKeyToken, "InvalidCommentPrefix", kTextInvalidCommentPrefix},
    {Error::InvalidCommentPrefix, "InvalidCommentPrefix", kTextInvalidCommentPrefix},
    {Error::InvalidHeaderPrefix, "InvalidHeaderPrefix", "Invalid header prefix."},
    {Error::InvalidFieldDelimiter, "InvalidFieldDelimiter", "Invalid field delimiter."},
    // "Invalidentry", without the blank: kept as the system writes it.
    {Error::InvalidEntryDelimiter, "InvalidEntryDelimiter", "Invalidentry delimiter."},
    {Error::CannotWriteIndex, "CannotWriteIdxFile", "Cannot write into output index file."},
    // The byte where the reader stands.
    {Error::CannotReadInput, "CannotReadInFile", "Cannot read input file at byte {}."},
    // "Iterrupted": kept as the system spells it.
    {Error::Interrupted, "IterruptedByUser", "Operation terminated by user."},
    {Error::KeyNotFound, "KeyNotFound", "Cannot find key."},
    // The 1-based number of the line the key is on; the limit is kKeyBuffer - 1 (scan_common.h).
    {Error::KeyTooLong, "KeyTooLong", "Key longer than 255 characters at line {}."},
    // The byte where the entry that would be the 2^32-th begins; the limit is kMaxEntries
    // (scan_common.h), the largest count the header holds.
    {Error::TooManyEntries, "TooManyEntries", "More than 4294967295 entries at byte {}."},
    {Error::OffsetOverflow, "OffsetOverflow",
     "File too large for 32-bit offsets; use 64-bit offsets."},
};

constexpr const ErrorRow& error_row(Error error) {
    return kErrorRows[static_cast<std::size_t>(error)];
}

static_assert(hxb::rows_in_enum_order(kErrorRows),
              "kErrorRows must list the errors in their declared order");

// Raises the error's row, number standing for the "{}" of its message. Files still open are
// closed by the caller first (IndexFiles::fail does both).
[[noreturn]] void raise_error(Error error);
[[noreturn]] void raise_error(Error error, std::uint64_t number);

// A fixed list of errors.
using ErrorList = hxb::Rows<Error>;

// ---------------------------------------------------------------------------------------------
// Indexer types. Every call checks, in this order, the errors below before it scans: the
// counts, the indexer type, the input file's name and opening, the index file's name and
// opening ("wb": created or emptied), the key token, the comment and header prefixes, the field
// delimiter, the entry delimiter (too long for the header, or empty for "flat"), and the write
// of the 512-byte placeholder. All twelve inputs are decoded whatever the type uses.
inline constexpr Error kCallErrors[] = {Error::InputCount,
                                        Error::OutputCount,
                                        Error::InvalidIndexerType,
                                        Error::UnknownIndexerType,
                                        Error::InvalidInputName,
                                        Error::CannotOpenInput,
                                        Error::InvalidIndexName,
                                        Error::CannotOpenIndex,
                                        Error::InvalidKeyToken,
                                        Error::InvalidCommentPrefix,
                                        Error::InvalidHeaderPrefix,
                                        Error::InvalidFieldDelimiter,
                                        Error::InvalidEntryDelimiter,
                                        Error::CannotWriteIndex};

// Each type's scan errors, in the order the scan checks them on a line (an error checked at
// several points is listed where it is first checked). Every line is read (CannotReadInput)
// and then polled for the user's stop (Interrupted), except where the type says otherwise.
// OffsetOverflow is raised by the 32-bit instance only; after the scan, the offset table and
// the header are written and the index file closed (CannotWriteIndex).

// "mrtab": an entry is a run of data lines sharing one key. The key field is looked for on
// every data line, keys written or not (KeyNotFound): runs are split by key.
inline constexpr Error kMrtabErrors[] = {Error::CannotReadInput, Error::Interrupted,
                                         Error::KeyNotFound,     Error::OffsetOverflow,
                                         Error::KeyTooLong,      Error::TooManyEntries};

// "table": every data line is an entry; its key is looked for only when keys are written.
inline constexpr Error kTableErrors[] = {Error::CannotReadInput, Error::Interrupted,
                                         Error::KeyNotFound,     Error::KeyTooLong,
                                         Error::OffsetOverflow,  Error::TooManyEntries};

// "fasta": an entry is a line beginning with ">" and the lines up to the next such line; the
// key is the header's first word. A header without a word repeats the previous key.
inline constexpr Error kFastaErrors[] = {Error::CannotReadInput, Error::Interrupted,
                                         Error::KeyTooLong, Error::TooManyEntries,
                                         Error::OffsetOverflow};

// "fastq": an entry is a line beginning with "@" and the three lines after it, which are read
// without a poll.
inline constexpr Error kFastqErrors[] = {Error::CannotReadInput, Error::Interrupted,
                                         Error::KeyTooLong, Error::TooManyEntries,
                                         Error::OffsetOverflow};

// "flat": entries are the content lines between lines that begin with the entry delimiter;
// the header lines at the top are skipped without a poll. An entry's key is checked when the
// entry closes (KeyNotFound), after its offsets are taken.
inline constexpr Error kFlatErrors[] = {Error::CannotReadInput, Error::Interrupted,
                                        Error::OffsetOverflow,  Error::KeyNotFound,
                                        Error::TooManyEntries,  Error::KeyTooLong};

// A scanner reads the input from its first line to its end, streams the keys into the index
// file, counts entries and lines in core and fills the offset table (scanners.h).
struct ScanCore;
template <class Offset> class OffsetTable;
template <class Offset> using ScanFunction = void (*)(ScanCore&, OffsetTable<Offset>&);

struct IndexerType {
    const char* name;           // input 1, compared whole and case-sensitively
    bool always_consecutive;    // input 5, the layout, is ignored
    bool needs_entry_delimiter; // an empty entry delimiter (input 12) is refused
    ScanFunction<std::uint32_t> scan32;
    ScanFunction<std::uint64_t> scan64;
    ErrorList errors; // the scan's errors, after kCallErrors
};

// The type named exactly by name, or null.
const IndexerType* find_indexer_type(const char* name);

template <class Offset> ScanFunction<Offset> scanner_for(const IndexerType& type) {
    if constexpr (sizeof(Offset) == sizeof(std::uint32_t))
        return type.scan32;
    else
        return type.scan64;
}

} // namespace flatmark
