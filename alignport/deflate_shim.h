// Fast BGZF blocks under the BAM library: the library inflates and deflates each block with one
// one-shot raw-deflate zlib stream. Linked with -Wl,--wrap for inflateInit2_, inflate, inflateEnd,
// deflateInit2_, deflate and deflateEnd, those calls reach deflate_shim.cpp, which hands exactly
// the one-shot raw blocks to libdeflate and every other stream (zlib or gzip wrapper, streamed in
// several calls, other window sizes or strategies) to zlib unchanged. crc32, which the library
// computes over every block it writes, is wrapped too: libdeflate's gives the same checksum,
// several times faster.
#pragma once

#include <zlib.h>

// The linker's names for the wrapped and the original zlib entries (-Wl,--wrap=SYMBOL).
extern "C" {
int __wrap_inflateInit2_(z_streamp strm, int windowBits, const char* version, int stream_size);
int __wrap_inflate(z_streamp strm, int flush);
int __wrap_inflateEnd(z_streamp strm);
int __wrap_deflateInit2_(z_streamp strm, int level, int method, int windowBits, int memLevel,
                         int strategy, const char* version, int stream_size);
int __wrap_deflate(z_streamp strm, int flush);
int __wrap_deflateEnd(z_streamp strm);
uLong __wrap_crc32(uLong crc, const Bytef* buf, uInt len);

int __real_inflateInit2_(z_streamp strm, int windowBits, const char* version, int stream_size);
int __real_inflate(z_streamp strm, int flush);
int __real_inflateEnd(z_streamp strm);
int __real_deflateInit2_(z_streamp strm, int level, int method, int windowBits, int memLevel,
                         int strategy, const char* version, int stream_size);
int __real_deflate(z_streamp strm, int flush);
int __real_deflateEnd(z_streamp strm);
uLong __real_crc32(uLong crc, const Bytef* buf, uInt len);
}

namespace alignport {

// How many wrapped inflate/deflate calls took each route since the process started. A stream
// handed to zlib counts once per call (a streamed inflate counts each of its calls).
struct DeflateShimCounts {
    unsigned long long fast_inflated_blocks = 0; // one-shot raw blocks decoded by libdeflate
    unsigned long long zlib_inflate_calls = 0;   // inflate calls served by zlib
    unsigned long long fast_deflated_blocks = 0; // one-shot raw blocks encoded by libdeflate
    unsigned long long zlib_deflate_calls = 0;   // deflate calls served by zlib
};
DeflateShimCounts deflate_shim_counts();

// Turns the libdeflate route on or off for streams initialised from now on; on at start. With it
// off every stream goes to zlib, which lets tests and benchmarks compare both in one process.
void set_deflate_shim_enabled(bool enabled);

} // namespace alignport
