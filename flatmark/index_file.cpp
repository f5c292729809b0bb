#include "index_file.h"

#include "index_files.h"
#include "offset_table.h"

#include <algorithm>
#include <cstring>

namespace flatmark {

namespace {

namespace fmt = hxb::index_format;

template <class T> unsigned char* put_le(unsigned char* out, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        *out++ = static_cast<unsigned char>(value & 0xFFu);
        value = static_cast<T>(value >> 4 >> 4); // two steps: no shift by the full width
    }
    return out;
}

} // namespace

std::array<unsigned char, kHeaderSize> header_image(const HeaderFields& fields) {
    std::array<unsigned char, kHeaderSize> image{};
    unsigned char* at = image.data();
    std::memcpy(at + fmt::kMagicAt, fmt::kMagic, fmt::kMagicSize);
    std::memcpy(at + fmt::kVersionAt, fmt::kVersion, fmt::kVersionSize);
    put_le<std::uint32_t>(at + fmt::kEntriesAt, fields.entries); // the reserved byte stays 0
    put_le<std::uint64_t>(at + fmt::kKeysPositionAt, fields.keys_position);
    put_le<std::uint64_t>(at + fmt::kTablePositionAt, fields.table_position);
    at[fmt::kLayoutAt] = fields.layout;
    at[fmt::kWidthAt] = fields.width_byte;
    const std::size_t k = std::min(fields.entry_delimiter.size(), kMaxEntryDelimiter);
    std::memcpy(at + fmt::kDelimiterAt, fields.entry_delimiter.data(), k);
    unsigned char* out = at + fmt::kDelimiterAt + k;
    *out++ = '\t';
    *out = 0;
    return image;
}

void write_placeholder(IndexFiles& files) {
    const std::array<unsigned char, kHeaderSize> zeros{};
    files.write_index(zeros.data(), zeros.size());
}

template <class Offset>
void write_offset_table(IndexFiles& files, const GrowingArray<Offset>& starts,
                        const GrowingArray<Offset>& ends, std::uint32_t entries, bool consecutive) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // The values are already in file order and byte order.
    if (consecutive) {
        files.write_index(starts.data(), (std::size_t{entries} + 1) * sizeof(Offset));
        return;
    }
#endif
    // Otherwise encoded through a small staging block so the table streams at any size.
    constexpr std::size_t kBlockValues = 8192;
    unsigned char block[kBlockValues * sizeof(Offset)];
    std::size_t used = 0;
    auto put = [&](Offset value) {
        put_le<Offset>(block + used * sizeof(Offset), value);
        if (++used == kBlockValues) {
            files.write_index(block, used * sizeof(Offset));
            used = 0;
        }
    };
    if (consecutive) {
        for (std::size_t i = 0; i <= entries; ++i)
            put(starts[i]);
    } else {
        for (std::size_t i = 0; i < entries; ++i) {
            put(starts[i]);
            put(ends[i]);
        }
    }
    files.write_index(block, used * sizeof(Offset));
}

template void write_offset_table<std::uint32_t>(IndexFiles&, const GrowingArray<std::uint32_t>&,
                                                const GrowingArray<std::uint32_t>&, std::uint32_t,
                                                bool);
template void write_offset_table<std::uint64_t>(IndexFiles&, const GrowingArray<std::uint64_t>&,
                                                const GrowingArray<std::uint64_t>&, std::uint32_t,
                                                bool);

void write_header(IndexFiles& files, const HeaderFields& fields) {
    if (std::fseek(files.index.get(), 0, SEEK_SET) != 0)
        files.fail(Error::CannotWriteIndex);
    const auto image = header_image(fields);
    files.write_index(image.data(), image.size());
}

} // namespace flatmark
