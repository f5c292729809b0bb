// The index file's format, as flatmark writes it and traitmark and the readers extend and read
// it: a 512-byte header, the optional keys section (one key and a line feed per entry) from byte
// 512, the offset table, then any feature columns appended. All integers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hxb {
namespace index_format {

constexpr std::size_t kHeaderSize = 512;

// Header fields: where each begins and how many bytes it takes.
constexpr char kMagic[] = "QZRidx\x01"; // the 6 letters and the byte 0x01
constexpr std::size_t kMagicAt = 0;
constexpr std::size_t kMagicSize = 7;
constexpr char kVersion[] = " 2.0";
constexpr std::size_t kVersionAt = 7;
constexpr std::size_t kVersionSize = 4;
constexpr std::size_t kReservedAt = 11; // one zero byte
constexpr std::size_t kEntriesAt = 12;  // N, 4 bytes
constexpr std::size_t kEntriesSize = 4;
constexpr std::size_t kKeysPositionAt = 16;  // kHeaderSize with keys, 0 without; 8 bytes
constexpr std::size_t kTablePositionAt = 24; // where the offset table begins; 8 bytes
constexpr std::size_t kPositionSize = 8;
constexpr std::size_t kLayoutAt = 32;    // kLayoutConsecutive or kLayoutPaired
constexpr std::size_t kWidthAt = 33;     // 0: 4-byte offsets, any other value: 8-byte offsets
constexpr std::size_t kDelimiterAt = 34; // the entry delimiter, a TAB, a zero byte, zeros to 511

constexpr std::uint8_t kLayoutConsecutive = 1; // N + 1 starts
constexpr std::uint8_t kLayoutPaired = 0;      // N (start, end) pairs

// The delimiter, its TAB and the terminating zero end by the header's last byte.
constexpr std::size_t kMaxEntryDelimiter = kHeaderSize - kDelimiterAt - 2;

static_assert(sizeof kMagic - 1 == kMagicSize && sizeof kVersion - 1 == kVersionSize,
              "field sizes match their texts");
static_assert(kMagicAt + kMagicSize == kVersionAt && kVersionAt + kVersionSize == kReservedAt &&
                  kEntriesAt + kEntriesSize == kKeysPositionAt &&
                  kKeysPositionAt + kPositionSize == kTablePositionAt &&
                  kTablePositionAt + kPositionSize == kLayoutAt,
              "the header's fields follow one another");

// Bytes of one offset for the header's width byte.
constexpr std::size_t offset_size(std::uint8_t width_byte) {
    return width_byte == 0 ? 4 : 8;
}

} // namespace index_format
} // namespace hxb
