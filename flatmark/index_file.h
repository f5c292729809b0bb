// The index file's layout: a 512-byte header, the optional keys section (one key and a line
// feed per entry, streamed during the scan) and the offset table, all integers little-endian.
#pragma once

#include "index_format.h"

#include <array>
#include <cstdint>
#include <string>

namespace flatmark {

class IndexFiles;
template <class T> class GrowingArray;

constexpr std::size_t kHeaderSize = hxb::index_format::kHeaderSize;
constexpr std::size_t kMaxEntryDelimiter = hxb::index_format::kMaxEntryDelimiter;

struct HeaderFields {
    std::uint32_t entries = 0;
    std::uint64_t keys_position = 0;  // 512 with keys, 0 without
    std::uint64_t table_position = 0; // where the offset table begins in the index file
    std::uint8_t layout = hxb::index_format::kLayoutConsecutive;
    std::uint8_t width_byte = 0; // 0: 4-byte offsets, other: 8-byte offsets
    std::string entry_delimiter; // at most kMaxEntryDelimiter bytes
};

// The full 512-byte header image for these fields.
std::array<unsigned char, kHeaderSize> header_image(const HeaderFields& fields);

// Appends the 512 zero bytes that reserve the header.
void write_placeholder(IndexFiles& files);

// Appends the offset table: entries + 1 values of starts (consecutive) or entries pairs
// (starts[i], ends[i]) (paired), little-endian in the width of Offset. Raises on a failed write.
template <class Offset>
void write_offset_table(IndexFiles& files, const GrowingArray<Offset>& starts,
                        const GrowingArray<Offset>& ends, std::uint32_t entries, bool consecutive);

// Rewinds the index file and writes the header image over the placeholder.
void write_header(IndexFiles& files, const HeaderFields& fields);

} // namespace flatmark
