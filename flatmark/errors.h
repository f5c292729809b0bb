// Identifiers and messages of every error flatmark raises, in one place. The system's own
// texts, odd spellings included, are used exactly.
#pragma once

namespace flatmark {

constexpr const char* kIdInvalidNumInputArg = "helixo:flatmark:InvalidNumInputArg";
constexpr const char* kIdInvalidNumOutputArg = "helixo:flatmark:InvalidNumOutputArg";
constexpr const char* kIdInvalidIndexerType = "helixo:flatmark:InvalidIndexerType";
constexpr const char* kIdUnknownIndexerType = "helixo:flatmark:UnknownIndexerType";
constexpr const char* kIdInvalidFileName = "helixo:flatmark:InvalidFileName";
constexpr const char* kIdCannotOpenInFile = "helixo:flatmark:CannotOpenInFile";
constexpr const char* kIdCannotOpenIdxFile = "helixo:flatmark:CannotOpenIdxFile";
constexpr const char* kIdInvalidCommentPrefix = "helixo:flatmark:InvalidCommentPrefix";
constexpr const char* kIdInvalidHeaderPrefix = "helixo:flatmark:InvalidHeaderPrefix";
constexpr const char* kIdInvalidFieldDelimiter = "helixo:flatmark:InvalidFieldDelimiter";
constexpr const char* kIdInvalidEntryDelimiter = "helixo:flatmark:InvalidEntryDelimiter";
constexpr const char* kIdKeyNotFound = "helixo:flatmark:KeyNotFound";
constexpr const char* kIdKeyTooLong = "helixo:flatmark:KeyTooLong";
constexpr const char* kIdInterrupted = "helixo:flatmark:IterruptedByUser";
constexpr const char* kIdOffsetOverflow = "helixo:flatmark:OffsetOverflow";
constexpr const char* kIdCannotWriteIdxFile = "helixo:flatmark:CannotWriteIdxFile";
constexpr const char* kIdCannotReadInFile = "helixo:flatmark:CannotReadInFile";
constexpr const char* kIdTooManyEntries = "helixo:flatmark:TooManyEntries";

constexpr const char* kMsgInvalidNumInputArg = "Twelve input arguments required.";
constexpr const char* kMsgInvalidNumOutputArg = "Too many output arguments.";
constexpr const char* kMsgInvalidIndexerType = "Invalid indexer type.";
constexpr const char* kMsgUnknownIndexerType = "Unknown indexer type.";
constexpr const char* kMsgInvalidInputFileName = "Invalid input file name.";
constexpr const char* kMsgCannotOpenInFile = "Could not open input file.";
constexpr const char* kMsgInvalidIndexFileName = "Invalid index file name.";
constexpr const char* kMsgCannotOpenIdxFile = "Could not open output index file.";
constexpr const char* kMsgInvalidCommentPrefix = "Invalid comment prefix.";
constexpr const char* kMsgInvalidHeaderPrefix = "Invalid header prefix.";
constexpr const char* kMsgInvalidFieldDelimiter = "Invalid field delimiter.";
constexpr const char* kMsgInvalidEntryDelimiter = "Invalidentry delimiter.";
constexpr const char* kMsgKeyNotFound = "Cannot find key.";
constexpr const char* kMsgInterrupted = "Operation terminated by user.";
constexpr const char* kMsgOffsetOverflow = "File too large for 32-bit offsets; use 64-bit offsets.";
constexpr const char* kMsgCannotWriteIdxFile = "Cannot write into output index file.";
// Messages that name a place are formatted where they are raised (scan_common.cpp):
// KeyTooLong "Key longer than 255 characters at line N.", CannotReadInFile "Cannot read input
// file at byte N.", TooManyEntries "More than 4294967295 entries at byte N." (N where the
// entry that would be the 2^32-th begins).

} // namespace flatmark
