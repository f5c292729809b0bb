// BAM files edited byte by byte: the uncompressed content of a BAM, where its header fields and
// records lie, and a writer that compresses content into stored (level 0) BGZF blocks. Stored
// blocks have a compressed size fixed by their content's size, so a copy edited in place keeps
// every virtual offset, and the BAI of the valid file indexes the damaged one too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bamedit {

// The uncompressed content of a BAM (or any BGZF) file.
std::string content_of(const std::string& bam_path);

// Writes content as stored BGZF blocks followed by the end-of-file block.
void write_stored_bgzf(const std::string& path, const std::string& content);

// Offsets of the header fields and of each record in a BAM's content.
struct Layout {
    std::size_t text_length = 4;      // l_text
    std::size_t ref_count = 0;        // n_ref
    std::vector<std::size_t> refs;    // l_name of each reference
    std::vector<std::size_t> records; // block_size of each record
};
Layout layout_of(const std::string& content);

// Offsets within a record that begins at record (its block_size).
struct RecordFields {
    std::size_t ref_id, pos, name_length, cigar_count, seq_length, mate_ref_id, name, cigar, seq,
        aux;
};
RecordFields fields_of(const std::string& content, std::size_t record);

// Offset of the optional field with this tag in the record, or npos.
std::size_t aux_field(const std::string& content, std::size_t record, const char tag[2]);

void put_u8(std::string& content, std::size_t at, std::uint8_t value);
void put_u16(std::string& content, std::size_t at, std::uint16_t value);
void put_i32(std::string& content, std::size_t at, std::int32_t value);

} // namespace bamedit
