// The decoded inputs of one indexing call that the scan and the index file need.
#pragma once

#include <cstdint>
#include <string>

namespace flatmark {

struct IndexerType;

struct Settings {
    const IndexerType* type = nullptr;
    std::uint8_t width_byte = 0;      // input 4, stored as is in the header
    bool consecutive = true;          // input 5 (forced on for "fasta" and "fastq")
    bool write_keys = false;          // input 6
    std::uint8_t key_field_count = 0; // input 7: fields before the key
    std::string key_token;            // input 8
    std::string comment_prefix;       // input 9
    std::string header_prefix;        // input 10
    char field_delimiter = '\t';      // input 11
    std::string entry_delimiter;      // input 12
};

} // namespace flatmark
