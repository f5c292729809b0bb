#include "blocks.h"

#include <gtest/gtest.h>

#include <random>

namespace blocks {

const char* content_name(Content content) {
    switch (content) {
    case Content::Text:
        return "Text";
    case Content::Random:
        return "Random";
    case Content::Runs:
        return "Runs";
    case Content::Records:
        return "Records";
    }
    return "?";
}

Bytes make_content(Content content, std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes out;
    out.reserve(size);
    static const char* const kWords[] = {"chr1",   "read", "\tACGT",  "60M", "*", "\t0\t", "qual",
                                         "NM:i:0", "\n",   "GATTACA", "16",  "=", "1000"};
    while (out.size() < size) {
        switch (content) {
        case Content::Text: {
            const char* w = kWords[rng() % (sizeof kWords / sizeof kWords[0])];
            while (*w != '\0' && out.size() < size)
                out.push_back(static_cast<unsigned char>(*w++));
            break;
        }
        case Content::Random:
            out.push_back(static_cast<unsigned char>(rng()));
            break;
        case Content::Runs: {
            const auto value = static_cast<unsigned char>(rng() % 4);
            for (unsigned n = 1 + rng() % 300; n > 0 && out.size() < size; --n)
                out.push_back(value);
            break;
        }
        case Content::Records: {
            // Binary records: a little-endian position that grows, packed bases, qualities.
            const std::uint32_t position = static_cast<std::uint32_t>(out.size() * 3);
            for (int k = 0; k < 4 && out.size() < size; ++k)
                out.push_back(static_cast<unsigned char>(position >> (8 * k)));
            for (int k = 0; k < 25 && out.size() < size; ++k)
                out.push_back(static_cast<unsigned char>(0x11 * (1 + rng() % 4)) ^
                              static_cast<unsigned char>(rng() % 4));
            for (int k = 0; k < 50 && out.size() < size; ++k)
                out.push_back(static_cast<unsigned char>(30 + rng() % 12));
            break;
        }
        }
    }
    return out;
}

namespace {

Coded finish(const z_stream& zs, Coded coded) {
    coded.total_in = zs.total_in;
    coded.total_out = zs.total_out;
    coded.avail_in = zs.avail_in;
    coded.message = zs.msg != nullptr ? zs.msg : "";
    coded.bytes.resize(zs.total_out);
    return coded;
}

} // namespace

Coded deflate_once(Via via, const Bytes& data, std::size_t out_cap, int level, int windowBits,
                   int memLevel, int strategy) {
    Coded coded;
    coded.bytes.assign(out_cap, 0xA5);
    z_stream zs{};
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = coded.bytes.data();
    zs.avail_out = static_cast<uInt>(out_cap);
    const bool shim = via == Via::Shim;
    coded.init = (shim ? deflateInit2_ : __real_deflateInit2_)(&zs, level, Z_DEFLATED, windowBits,
                                                               memLevel, strategy, ZLIB_VERSION,
                                                               static_cast<int>(sizeof zs));
    if (coded.init != Z_OK)
        return coded;
    coded.result = (shim ? deflate : __real_deflate)(&zs, Z_FINISH);
    coded = finish(zs, std::move(coded));
    EXPECT_EQ((shim ? deflateEnd : __real_deflateEnd)(&zs),
              coded.result == Z_STREAM_END ? Z_OK : Z_DATA_ERROR);
    return coded;
}

Coded inflate_once(Via via, const Bytes& compressed, std::size_t out_cap, int windowBits) {
    Coded coded;
    coded.bytes.assign(out_cap, 0x5A);
    z_stream zs{};
    zs.next_in = const_cast<Bytef*>(compressed.data());
    zs.avail_in = static_cast<uInt>(compressed.size());
    zs.next_out = coded.bytes.data();
    zs.avail_out = static_cast<uInt>(out_cap);
    const bool shim = via == Via::Shim;
    coded.init = (shim ? inflateInit2_ : __real_inflateInit2_)(&zs, windowBits, ZLIB_VERSION,
                                                               static_cast<int>(sizeof zs));
    if (coded.init != Z_OK)
        return coded;
    coded.result = (shim ? inflate : __real_inflate)(&zs, Z_FINISH);
    coded = finish(zs, std::move(coded));
    EXPECT_EQ((shim ? inflateEnd : __real_inflateEnd)(&zs), Z_OK);
    return coded;
}

Bytes zlib_compress(const Bytes& data, int level, int windowBits) {
    const Coded coded =
        deflate_once(Via::Zlib, data, data.size() + data.size() / 100 + 1024, level, windowBits);
    EXPECT_EQ(coded.result, Z_STREAM_END);
    return coded.bytes;
}

} // namespace blocks
