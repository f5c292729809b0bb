#include "bam_editing.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace bamedit {

namespace {

std::uint32_t get_u32(const std::string& s, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, s.data() + at, 4);
    return v;
}

void append_u16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>(v >> 8));
}

void append_u32(std::string& out, std::uint32_t v) {
    for (int k = 0; k < 4; ++k)
        out.push_back(static_cast<char>(v >> (8 * k) & 0xff));
}

// One stored BGZF block of at most 65,280 content bytes.
void append_block(std::string& out, const char* data, std::size_t size) {
    z_stream z{};
    if (deflateInit2(&z, 0, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string compressed(size + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z.avail_in = static_cast<uInt>(size);
    z.next_out = reinterpret_cast<Bytef*>(&compressed[0]);
    z.avail_out = static_cast<uInt>(compressed.size());
    const int rc = deflate(&z, Z_FINISH);
    compressed.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("deflate");
    static const unsigned char kHead[16] = {0x1f, 0x8b, 8, 4, 0,   0,   0, 0,
                                            0,    0xff, 6, 0, 'B', 'C', 2, 0};
    out.append(reinterpret_cast<const char*>(kHead), sizeof kHead);
    append_u16(out, static_cast<std::uint16_t>(compressed.size() + 25));
    out += compressed;
    append_u32(out, static_cast<std::uint32_t>(
                        crc32(0, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size))));
    append_u32(out, static_cast<std::uint32_t>(size));
}

} // namespace

std::string content_of(const std::string& bam_path) {
    gzFile in = gzopen(bam_path.c_str(), "rb");
    if (in == nullptr)
        throw std::runtime_error("cannot open " + bam_path);
    std::string content;
    char buf[1 << 16];
    int n;
    while ((n = gzread(in, buf, sizeof buf)) > 0)
        content.append(buf, static_cast<std::size_t>(n));
    gzclose(in);
    return content;
}

void write_stored_bgzf(const std::string& path, const std::string& content) {
    constexpr std::size_t kBlock = 60000;
    std::string out;
    for (std::size_t at = 0; at < content.size(); at += kBlock)
        append_block(out, content.data() + at, std::min(kBlock, content.size() - at));
    static const unsigned char kEndOfFile[28] = {0x1f, 0x8b, 8,    4,    0, 0, 0,    0, 0, 0xff,
                                                 6,    0,    0x42, 0x43, 2, 0, 0x1b, 0, 3, 0,
                                                 0,    0,    0,    0,    0, 0, 0,    0};
    out.append(reinterpret_cast<const char*>(kEndOfFile), sizeof kEndOfFile);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(std::fwrite(out.data(), 1, out.size(), f), out.size());
    ASSERT_EQ(std::fclose(f), 0);
}

Layout layout_of(const std::string& content) {
    Layout l;
    std::size_t at = 8 + get_u32(content, 4);
    l.ref_count = at;
    const std::uint32_t n_ref = get_u32(content, at);
    at += 4;
    for (std::uint32_t r = 0; r < n_ref; ++r) {
        l.refs.push_back(at);
        at += 8 + get_u32(content, at);
    }
    while (at + 4 <= content.size()) {
        l.records.push_back(at);
        at += 4 + get_u32(content, at);
    }
    return l;
}

RecordFields fields_of(const std::string& content, std::size_t record) {
    RecordFields f{};
    f.ref_id = record + 4;
    f.pos = record + 8;
    f.name_length = record + 12;
    f.cigar_count = record + 16;
    f.seq_length = record + 20;
    f.mate_ref_id = record + 24;
    f.name = record + 36;
    f.cigar = f.name + static_cast<unsigned char>(content[f.name_length]);
    f.seq = f.cigar + 4 * (get_u32(content, record + 16) & 0xffff);
    const std::uint32_t seq_length = get_u32(content, f.seq_length);
    f.aux = f.seq + (seq_length + 1) / 2 + seq_length;
    return f;
}

std::size_t aux_field(const std::string& content, std::size_t record, const char tag[2]) {
    const std::size_t end = record + 4 + get_u32(content, record);
    std::size_t at = fields_of(content, record).aux;
    while (at + 3 <= end) {
        if (content[at] == tag[0] && content[at + 1] == tag[1])
            return at;
        const char type = content[at + 2];
        at += 3;
        switch (type) {
        case 'A':
        case 'c':
        case 'C':
            at += 1;
            break;
        case 's':
        case 'S':
            at += 2;
            break;
        case 'i':
        case 'I':
        case 'f':
            at += 4;
            break;
        case 'Z':
        case 'H':
            at = content.find('\0', at) + 1;
            break;
        case 'B': {
            const char sub = content[at];
            const std::size_t size = sub == 'c' || sub == 'C'   ? 1
                                     : sub == 's' || sub == 'S' ? 2
                                                                : 4;
            at += 5 + size * get_u32(content, at + 1);
            break;
        }
        default:
            return std::string::npos;
        }
    }
    return std::string::npos;
}

void put_u8(std::string& content, std::size_t at, std::uint8_t value) {
    content[at] = static_cast<char>(value);
}

void put_u16(std::string& content, std::size_t at, std::uint16_t value) {
    std::memcpy(&content[at], &value, 2);
}

void put_i32(std::string& content, std::size_t at, std::int32_t value) {
    std::memcpy(&content[at], &value, 4);
}

} // namespace bamedit
