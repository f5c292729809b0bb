// Seeded block contents and one-call zlib coding helpers for the libdeflate shim's tests. The
// plain zlib names (inflate, deflate, ...) reach the shim in this binary; the __real_ names reach
// zlib itself and serve as the reference.
#pragma once

#include "deflate_shim.h"

#include <cstdint>
#include <string>
#include <vector>

namespace blocks {

using Bytes = std::vector<unsigned char>;

enum class Content { Text, Random, Runs, Records };
const char* content_name(Content content);

// size bytes of the given kind, the same for the same seed.
Bytes make_content(Content content, std::size_t size, unsigned seed);

// What one coding call left behind: its result, the stream's totals and message, and the bytes
// produced (the first total_out bytes of the output area).
struct Coded {
    int init = 0;
    int result = 0;
    uLong total_in = 0;
    uLong total_out = 0;
    uInt avail_in = 0;
    std::string message;
    Bytes bytes;
};

enum class Via { Shim, Zlib };

// Compresses data in one deflate(Z_FINISH) call into an area of out_cap bytes.
Coded deflate_once(Via via, const Bytes& data, std::size_t out_cap,
                   int level = Z_DEFAULT_COMPRESSION, int windowBits = -15, int memLevel = 8,
                   int strategy = Z_DEFAULT_STRATEGY);

// Decompresses in one inflate(Z_FINISH) call into an area of out_cap bytes.
Coded inflate_once(Via via, const Bytes& compressed, std::size_t out_cap, int windowBits = -15);

// zlib's own raw (or zlib/gzip, by windowBits) encoding of data, large enough output area.
Bytes zlib_compress(const Bytes& data, int level = Z_DEFAULT_COMPRESSION, int windowBits = -15);

} // namespace blocks
