// The libdeflate shim under zlib's one-shot raw-deflate calls: the same bytes and results as
// zlib for whole blocks, and zlib itself for every other stream.
#include "blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using blocks::Bytes;
using blocks::Coded;
using blocks::Content;
using blocks::Via;

constexpr std::size_t kBgzfBlock = 0x10000; // a BGZF block's largest uncompressed size

void expect_same_coding(const Coded& shim, const Coded& zlib) {
    EXPECT_EQ(shim.init, zlib.init);
    EXPECT_EQ(shim.result, zlib.result);
    EXPECT_EQ(shim.total_in, zlib.total_in);
    EXPECT_EQ(shim.total_out, zlib.total_out);
    EXPECT_EQ(shim.avail_in, zlib.avail_in);
    EXPECT_EQ(shim.message, zlib.message);
    EXPECT_TRUE(shim.bytes == zlib.bytes) << "decoded bytes differ";
}

struct Counted {
    alignport::DeflateShimCounts before = alignport::deflate_shim_counts();
    unsigned long long fast_inflates() const {
        return alignport::deflate_shim_counts().fast_inflated_blocks - before.fast_inflated_blocks;
    }
    unsigned long long zlib_inflates() const {
        return alignport::deflate_shim_counts().zlib_inflate_calls - before.zlib_inflate_calls;
    }
    unsigned long long fast_deflates() const {
        return alignport::deflate_shim_counts().fast_deflated_blocks - before.fast_deflated_blocks;
    }
    unsigned long long zlib_deflates() const {
        return alignport::deflate_shim_counts().zlib_deflate_calls - before.zlib_deflate_calls;
    }
};

// Block shapes at the edges: nothing, one byte, data that does not compress, and the largest
// block BGZF holds.
struct Shape {
    const char* name;
    Content content;
    std::size_t size;
};
const Shape kShapes[] = {
    {"Empty", Content::Text, 0},
    {"OneByte", Content::Random, 1},
    {"ShortText", Content::Text, 100},
    {"IncompressibleFull", Content::Random, 0xff00},
    {"IncompressibleMax", Content::Random, kBgzfBlock},
    {"RecordsMax", Content::Records, kBgzfBlock},
    {"RunsMax", Content::Runs, kBgzfBlock},
    {"TextMax", Content::Text, kBgzfBlock},
};

class BlockShapes : public ::testing::TestWithParam<std::tuple<Shape, int>> {};

TEST_P(BlockShapes, DecodeExactlyAsZlibThroughLibdeflate) {
    const auto& [shape, level] = GetParam();
    const Bytes data = blocks::make_content(shape.content, shape.size, 7);
    const Bytes compressed = blocks::zlib_compress(data, level);
    const Counted counted;
    const Coded shim = blocks::inflate_once(Via::Shim, compressed, kBgzfBlock);
    const Coded zlib = blocks::inflate_once(Via::Zlib, compressed, kBgzfBlock);
    expect_same_coding(shim, zlib);
    EXPECT_EQ(shim.result, Z_STREAM_END);
    EXPECT_TRUE(shim.bytes == data);
    EXPECT_EQ(counted.fast_inflates(), 1u);
    EXPECT_EQ(counted.zlib_inflates(), 0u);
}

TEST_P(BlockShapes, EncodeThroughLibdeflateAndReadBackWithZlib) {
    const auto& [shape, level] = GetParam();
    const Bytes data = blocks::make_content(shape.content, shape.size, 11);
    const Counted counted;
    // A BGZF block's input is at most 0xff00 bytes, and its deflate data has the block less its
    // 26 header and footer bytes; larger inputs get room enough for stored blocks.
    const std::size_t room = shape.size <= 0xff00 ? kBgzfBlock - 26 : kBgzfBlock + 1024;
    const Coded shim = blocks::deflate_once(Via::Shim, data, room, level);
    ASSERT_EQ(shim.result, Z_STREAM_END);
    EXPECT_EQ(shim.total_in, data.size());
    if (data.empty()) {
        // The library's end-of-file marker is an empty block: zlib writes it, byte for byte.
        expect_same_coding(shim, blocks::deflate_once(Via::Zlib, data, room, level));
        EXPECT_EQ(counted.zlib_deflates(), 1u);
    } else {
        EXPECT_EQ(counted.fast_deflates(), 1u);
        EXPECT_EQ(counted.zlib_deflates(), 0u);
    }
    const Coded back = blocks::inflate_once(Via::Zlib, shim.bytes, kBgzfBlock);
    EXPECT_EQ(back.result, Z_STREAM_END);
    EXPECT_TRUE(back.bytes == data);
}

INSTANTIATE_TEST_SUITE_P(Levels, BlockShapes,
                         ::testing::Combine(::testing::ValuesIn(kShapes),
                                            ::testing::Values(Z_DEFAULT_COMPRESSION, 0, 1, 9)),
                         [](const auto& param) {
                             const int level = std::get<1>(param.param);
                             return std::string(std::get<0>(param.param).name) + "Level" +
                                    (level < 0 ? std::string("Default") : std::to_string(level));
                         });

TEST(SeededBlocks, DecodeByteForByteAsZlib) {
    const Content contents[] = {Content::Text, Content::Random, Content::Runs, Content::Records};
    const Counted counted;
    int blocks_coded = 0;
    for (unsigned seed = 0; seed < 160; ++seed) {
        const Content content = contents[seed % 4];
        const std::size_t size = (seed * 2654435761u) % (kBgzfBlock + 1);
        const Bytes data = blocks::make_content(content, size, seed);
        const Bytes compressed = blocks::zlib_compress(data, static_cast<int>(seed % 10));
        SCOPED_TRACE(std::string(blocks::content_name(content)) + " seed " + std::to_string(seed));
        const Coded shim = blocks::inflate_once(Via::Shim, compressed, kBgzfBlock);
        expect_same_coding(shim, blocks::inflate_once(Via::Zlib, compressed, kBgzfBlock));
        EXPECT_TRUE(shim.bytes == data);
        ++blocks_coded;
    }
    EXPECT_EQ(counted.fast_inflates(), static_cast<unsigned long long>(blocks_coded));
}

TEST(SeededBlocks, Crc32IsZlibsForEveryLengthAndRunningValue) {
    EXPECT_EQ(__wrap_crc32(0x12345678u, nullptr, 0), __real_crc32(0x12345678u, nullptr, 0));
    EXPECT_EQ(__wrap_crc32(7, nullptr, 5), __real_crc32(7, nullptr, 5));
    for (unsigned seed = 0; seed < 64; ++seed) {
        const std::size_t size = seed < 40 ? seed : (seed * 2654435761u) % (kBgzfBlock + 1);
        const Bytes data = blocks::make_content(Content::Random, size, seed);
        const uLong start = seed % 3 == 0 ? 0 : seed * 0x9e3779b9u;
        const auto* bytes = reinterpret_cast<const Bytef*>(data.data());
        const auto length = static_cast<uInt>(data.size());
        EXPECT_EQ(__wrap_crc32(start, bytes, length), __real_crc32(start, bytes, length))
            << "seed " << seed << " size " << size;
    }
}

TEST(SeededBlocks, DamagedBlocksGiveZlibsErrorAndMessage) {
    int errors = 0;
    for (unsigned seed = 0; seed < 120; ++seed) {
        const Bytes data = blocks::make_content(Content::Records, 4000 + seed * 300, seed);
        Bytes compressed = blocks::zlib_compress(data);
        // Damage one byte somewhere in the stream, or cut the stream short.
        if (seed % 3 == 0)
            compressed.resize(compressed.size() * (seed % 7 + 1) / 8);
        else
            compressed[(seed * 7919u) % compressed.size()] ^=
                static_cast<unsigned char>(1u << (seed % 8));
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Coded shim = blocks::inflate_once(Via::Shim, compressed, kBgzfBlock);
        expect_same_coding(shim, blocks::inflate_once(Via::Zlib, compressed, kBgzfBlock));
        errors += shim.result != Z_STREAM_END;
    }
    // Many damaged streams still decode (to other bytes, the same as zlib's); a good share fail.
    EXPECT_GT(errors, 40);
}

TEST(SeededBlocks, InvalidBlockTypeIsADataError) {
    const Bytes compressed = {0xff, 0x00, 0x00, 0x00};
    const Coded shim = blocks::inflate_once(Via::Shim, compressed, kBgzfBlock);
    EXPECT_EQ(shim.result, Z_DATA_ERROR);
    EXPECT_EQ(shim.message, "invalid block type");
}

TEST(SeededBlocks, OutputAreaTooSmallEndsAsZlibDoes) {
    const Bytes data = blocks::make_content(Content::Text, kBgzfBlock, 3);
    const Bytes compressed = blocks::zlib_compress(data);
    for (std::size_t cap : {std::size_t{1}, std::size_t{100}, kBgzfBlock - 1}) {
        SCOPED_TRACE("room " + std::to_string(cap));
        const Coded shim = blocks::inflate_once(Via::Shim, compressed, cap);
        expect_same_coding(shim, blocks::inflate_once(Via::Zlib, compressed, cap));
        EXPECT_EQ(shim.result, Z_BUF_ERROR);
    }
}

TEST(SeededBlocks, BytesAfterTheStreamAreLeftUnreadAsZlibDoes) {
    const Bytes data = blocks::make_content(Content::Records, 5000, 5);
    Bytes compressed = blocks::zlib_compress(data);
    compressed.insert(compressed.end(), {1, 2, 3, 4, 5, 6, 7});
    const Counted counted;
    const Coded shim = blocks::inflate_once(Via::Shim, compressed, kBgzfBlock);
    expect_same_coding(shim, blocks::inflate_once(Via::Zlib, compressed, kBgzfBlock));
    EXPECT_EQ(shim.avail_in, 7u);
    EXPECT_EQ(counted.fast_inflates(), 1u);
}

TEST(SeededBlocks, EncodeAtEveryLevelAndReadBackWithZlib) {
    for (int level = -1; level <= 9; ++level) {
        for (unsigned seed = 0; seed < 6; ++seed) {
            const Bytes data =
                blocks::make_content(static_cast<Content>(seed % 4), 1000 + seed * 9000, seed);
            const Coded shim = blocks::deflate_once(Via::Shim, data, kBgzfBlock);
            ASSERT_EQ(shim.result, Z_STREAM_END);
            EXPECT_TRUE(blocks::inflate_once(Via::Zlib, shim.bytes, kBgzfBlock).bytes == data)
                << "level " << level << " seed " << seed;
        }
    }
}

TEST(SeededBlocks, EncodingThatDoesNotFitEndsAsZlibDoes) {
    const Bytes data = blocks::make_content(Content::Random, 20000, 9);
    const Counted counted;
    const Coded shim = blocks::deflate_once(Via::Shim, data, 1000);
    expect_same_coding(shim, blocks::deflate_once(Via::Zlib, data, 1000));
    EXPECT_EQ(shim.result, Z_OK);
    EXPECT_EQ(counted.zlib_deflates(), 1u);
}

// Streams that are not one-shot raw blocks stay with zlib.
// Window bits of the encoder and of the decoder (47: zlib or gzip, told by the header).
class WrappedStreams : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(WrappedStreams, DecodeThroughZlib) {
    const auto [encode_bits, decode_bits] = GetParam();
    const Bytes data = blocks::make_content(Content::Text, 30000, 13);
    const Bytes compressed = blocks::zlib_compress(data, Z_DEFAULT_COMPRESSION, encode_bits);
    const Counted counted;
    const Coded shim = blocks::inflate_once(Via::Shim, compressed, kBgzfBlock, decode_bits);
    expect_same_coding(shim, blocks::inflate_once(Via::Zlib, compressed, kBgzfBlock, decode_bits));
    EXPECT_TRUE(shim.bytes == data);
    EXPECT_EQ(counted.fast_inflates(), 0u);
    EXPECT_EQ(counted.zlib_inflates(), 1u);
}

TEST_P(WrappedStreams, EncodeThroughZlibByteForByte) {
    const int windowBits = GetParam().first;
    const Bytes data = blocks::make_content(Content::Records, 30000, 17);
    const Counted counted;
    const Coded shim = blocks::deflate_once(Via::Shim, data, kBgzfBlock, 6, windowBits);
    expect_same_coding(shim, blocks::deflate_once(Via::Zlib, data, kBgzfBlock, 6, windowBits));
    EXPECT_EQ(counted.fast_deflates(), 0u);
}

INSTANTIATE_TEST_SUITE_P(ZlibGzipAndSmallWindows, WrappedStreams,
                         ::testing::Values(std::pair{15, 15}, std::pair{31, 31}, std::pair{31, 47},
                                           std::pair{15, 47}, std::pair{-9, -9}));

TEST(OtherStreams, OtherStrategiesAndMemoryLevelsEncodeThroughZlib) {
    const Bytes data = blocks::make_content(Content::Runs, 30000, 19);
    const Counted counted;
    for (const auto& [memLevel, strategy] :
         {std::pair{8, Z_HUFFMAN_ONLY}, std::pair{8, Z_RLE}, std::pair{8, Z_FIXED},
          std::pair{9, Z_DEFAULT_STRATEGY}}) {
        const Coded shim =
            blocks::deflate_once(Via::Shim, data, kBgzfBlock, 6, -15, memLevel, strategy);
        expect_same_coding(
            shim, blocks::deflate_once(Via::Zlib, data, kBgzfBlock, 6, -15, memLevel, strategy));
    }
    EXPECT_EQ(counted.fast_deflates(), 0u);
}

// Inflates a raw stream in several calls, feeding step bytes at a time.
Bytes inflate_in_steps(int (*init)(z_streamp, int, const char*, int), int (*run)(z_streamp, int),
                       int (*end)(z_streamp), const Bytes& compressed, std::size_t step,
                       int* last_result) {
    Bytes out(kBgzfBlock);
    z_stream zs{};
    EXPECT_EQ(init(&zs, -15, ZLIB_VERSION, static_cast<int>(sizeof zs)), Z_OK);
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    std::size_t fed = 0;
    int result = Z_OK;
    while (result == Z_OK) {
        const std::size_t n = std::min(step, compressed.size() - fed);
        zs.next_in = const_cast<Bytef*>(compressed.data() + fed);
        zs.avail_in = static_cast<uInt>(n);
        fed += n;
        result = run(&zs, fed == compressed.size() ? Z_FINISH : Z_NO_FLUSH);
        fed -= zs.avail_in;
    }
    *last_result = result;
    out.resize(zs.total_out);
    EXPECT_EQ(end(&zs), Z_OK);
    return out;
}

TEST(OtherStreams, StreamedRawInflateRunsThroughZlib) {
    const Bytes data = blocks::make_content(Content::Records, 50000, 23);
    const Bytes compressed = blocks::zlib_compress(data);
    const Counted counted;
    int result = 0;
    const Bytes out =
        inflate_in_steps(inflateInit2_, inflate, inflateEnd, compressed, 997, &result);
    EXPECT_EQ(result, Z_STREAM_END);
    EXPECT_TRUE(out == data);
    EXPECT_EQ(counted.fast_inflates(), 0u);
    EXPECT_GT(counted.zlib_inflates(), 5u);
}

TEST(OtherStreams, StreamedRawDeflateMatchesZlibByteForByte) {
    const Bytes data = blocks::make_content(Content::Text, 50000, 29);
    auto streamed = [&](int (*init)(z_streamp, int, int, int, int, int, const char*, int),
                        int (*run)(z_streamp, int), int (*end)(z_streamp)) {
        Bytes out(kBgzfBlock);
        z_stream zs{};
        EXPECT_EQ(init(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY, ZLIB_VERSION,
                       static_cast<int>(sizeof zs)),
                  Z_OK);
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        zs.next_in = const_cast<Bytef*>(data.data());
        zs.avail_in = 20000;
        EXPECT_EQ(run(&zs, Z_NO_FLUSH), Z_OK);
        zs.avail_in += 30000;
        EXPECT_EQ(run(&zs, Z_FINISH), Z_STREAM_END);
        out.resize(zs.total_out);
        EXPECT_EQ(end(&zs), Z_OK);
        return out;
    };
    const Counted counted;
    EXPECT_TRUE(streamed(deflateInit2_, deflate, deflateEnd) ==
                streamed(__real_deflateInit2_, __real_deflate, __real_deflateEnd));
    EXPECT_EQ(counted.fast_deflates(), 0u);
    EXPECT_EQ(counted.zlib_deflates(), 2u);
}

TEST(OtherStreams, ResetAfterAFastBlockDecodesTheNextBlockThroughZlib) {
    const Bytes first = blocks::make_content(Content::Text, 9000, 31);
    const Bytes second = blocks::make_content(Content::Records, 12000, 37);
    const Bytes a = blocks::zlib_compress(first);
    const Bytes b = blocks::zlib_compress(second);
    Bytes out(kBgzfBlock);
    z_stream zs{};
    ASSERT_EQ(inflateInit2(&zs, -15), Z_OK);
    zs.next_in = const_cast<Bytef*>(a.data());
    zs.avail_in = static_cast<uInt>(a.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    const Counted counted;
    ASSERT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
    EXPECT_TRUE(Bytes(out.begin(), out.begin() + static_cast<long>(zs.total_out)) == first);
    // Once done, the stream answers as zlib's finished stream does.
    EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(counted.fast_inflates(), 1u);
    ASSERT_EQ(inflateReset(&zs), Z_OK);
    zs.next_in = const_cast<Bytef*>(b.data());
    zs.avail_in = static_cast<uInt>(b.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    ASSERT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
    EXPECT_TRUE(Bytes(out.begin(), out.begin() + static_cast<long>(zs.total_out)) == second);
    EXPECT_EQ(counted.zlib_inflates(), 1u);
    EXPECT_EQ(inflateEnd(&zs), Z_OK);
}

TEST(OtherStreams, FinishedRawDeflateAnswersFurtherCallsAsZlib) {
    const Bytes data = blocks::make_content(Content::Text, 4000, 41);
    auto answers = [&](int (*init)(z_streamp, int, int, int, int, int, const char*, int),
                       int (*run)(z_streamp, int), int (*end)(z_streamp)) {
        Bytes out(kBgzfBlock);
        z_stream zs{};
        EXPECT_EQ(init(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY,
                       ZLIB_VERSION, static_cast<int>(sizeof zs)),
                  Z_OK);
        zs.next_in = const_cast<Bytef*>(data.data());
        zs.avail_in = static_cast<uInt>(data.size());
        zs.next_out = out.data();
        zs.avail_out = static_cast<uInt>(out.size());
        std::vector<int> results{run(&zs, Z_FINISH), run(&zs, Z_FINISH), run(&zs, Z_NO_FLUSH)};
        zs.avail_out = 0;
        results.push_back(run(&zs, Z_FINISH));
        results.push_back(end(&zs));
        return results;
    };
    EXPECT_EQ(answers(deflateInit2_, deflate, deflateEnd),
              answers(__real_deflateInit2_, __real_deflate, __real_deflateEnd));
}

TEST(Switch, TurnedOffEveryStreamGoesToZlib) {
    const Bytes data = blocks::make_content(Content::Records, 20000, 43);
    const Bytes compressed = blocks::zlib_compress(data);
    const Counted counted;
    alignport::set_deflate_shim_enabled(false);
    const Coded shim = blocks::inflate_once(Via::Shim, compressed, kBgzfBlock);
    const Coded encoded = blocks::deflate_once(Via::Shim, data, kBgzfBlock);
    alignport::set_deflate_shim_enabled(true);
    EXPECT_TRUE(shim.bytes == data);
    expect_same_coding(encoded, blocks::deflate_once(Via::Zlib, data, kBgzfBlock));
    EXPECT_EQ(counted.fast_inflates() + counted.fast_deflates(), 0u);
    EXPECT_EQ(counted.zlib_inflates(), 1u);
    EXPECT_EQ(counted.zlib_deflates(), 1u);
}

TEST(Threads, ConcurrentBlocksEachDecodeAndEncodeCorrectly) {
    std::vector<std::thread> workers;
    std::vector<int> failures(4, 0);
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([w, &failures] {
            for (unsigned k = 0; k < 40; ++k) {
                const unsigned seed = static_cast<unsigned>(w) * 1000 + k;
                const Bytes data =
                    blocks::make_content(static_cast<Content>(k % 4), 3000 + k * 500, seed);
                const Coded encoded = blocks::deflate_once(Via::Shim, data, kBgzfBlock);
                const Coded decoded = blocks::inflate_once(Via::Shim, encoded.bytes, kBgzfBlock);
                failures[static_cast<std::size_t>(w)] += !(decoded.bytes == data);
            }
        });
    }
    for (auto& t : workers)
        t.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

} // namespace
