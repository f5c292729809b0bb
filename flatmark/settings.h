// The decoded inputs of one indexing call that the scan and the index file need.
#pragma once

#include <cstdint>
#include <string>

namespace flatmark {

struct IndexerType;

struct Settings {
    const IndexerType* type = nullptr;
    std::uint8_t widthByte = 0;     // input 4, stored as is in the header
    bool consecutive = true;        // input 5 (forced on for "fasta" and "fastq")
    bool writeKeys = false;         // input 6
    std::uint8_t keyFieldCount = 0; // input 7: fields before the key
    std::string keyToken;           // input 8
    std::string commentPrefix;      // input 9
    std::string headerPrefix;       // input 10
    char fieldDelimiter = '\t';     // input 11
    std::string entryDelimiter;     // input 12
};

} // namespace flatmark
