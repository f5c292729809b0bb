// The libdeflate route for the BAM library's BGZF blocks, a link-time component
// (helixo_deflate_shim). It intercepts zlib's inflateInit2_, inflate, inflateEnd, deflateInit2_,
// deflate, deflateEnd and crc32: whatever links the component is linked with --wrap for each, so
// the library's calls of them land in the __wrap_ functions at the end of this file. Why: the
// library codes every BGZF block as one one-shot raw-deflate stream, which libdeflate decodes and
// encodes several times faster than zlib (deflate_shim.h says which streams take that route).
// Where the linker cannot wrap, or libdeflate is missing or HELIXO_LIBDEFLATE is OFF, the
// component is not built and every block goes through zlib.
//
// Every wrapped init still initialises the real zlib stream, so zlib's own state is always there:
// a stream that turns out not to be a one-shot block, a block libdeflate declines (damaged data,
// output that does not fit) and any zlib entry we do not wrap (inflateReset, deflateParams, ...)
// all continue in zlib exactly as without the shim. A block libdeflate declines is decoded again
// by zlib from the start, so zlib's result codes and messages are the ones the caller sees; only
// the output area past what zlib writes may then hold bytes from the declined attempt.
#include "deflate_shim.h"

#include <libdeflate.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace alignport {

namespace {

constexpr int kRawWindowBits = -15;  // raw deflate with a 32 KiB window: a BGZF block's payload
constexpr int kLibraryMemLevel = 8;  // the library's memLevel (zlib's default)
constexpr int kZlibDefaultLevel = 6; // what zlib makes of Z_DEFAULT_COMPRESSION
constexpr int kLevels = 10;          // zlib levels 0..9, which libdeflate reads the same way

enum class Kind : unsigned char { Inflate, Deflate };

// Fresh: initialised, not yet called. Finished: its one block was coded by libdeflate, so zlib's
// state is still the fresh one. Zlib: zlib serves every further call.
enum class Phase : unsigned char { Fresh, Finished, Zlib };

struct Tracked {
    const z_stream* stream = nullptr;
    Kind kind = Kind::Inflate;
    Phase phase = Phase::Fresh;
    int level = 0;
    uLong total_in = 0; // the stream's totals right after a Finished block
    uLong total_out = 0;
};

// Streams that may take the libdeflate route, from their init to their end. Only a few are live
// at a time (the block being coded, one per compression thread). A stream that is never ended
// keeps its slot until its memory is initialised again; when every slot is taken, new streams go
// to zlib.
constexpr int kTrackedSlots = 64;

struct Registry {
    std::mutex lock;
    Tracked slots[kTrackedSlots] = {};

    Tracked* find(const z_stream* stream) {
        for (Tracked& t : slots)
            if (t.stream == stream)
                return &t;
        return nullptr;
    }
};

Registry g_registry;
std::atomic<bool> g_enabled{true};
std::atomic<unsigned long long> g_fast_inflates{0};
std::atomic<unsigned long long> g_zlib_inflates{0};
std::atomic<unsigned long long> g_fast_deflates{0};
std::atomic<unsigned long long> g_zlib_deflates{0};

void track(const z_stream* stream, Kind kind, int level) {
    std::lock_guard<std::mutex> guard(g_registry.lock);
    Tracked* t = g_registry.find(stream);
    if (t == nullptr)
        t = g_registry.find(nullptr);
    if (t != nullptr)
        *t = Tracked{stream, kind, Phase::Fresh, level, 0, 0};
}

void forget(const z_stream* stream) {
    if (stream == nullptr)
        return;
    std::lock_guard<std::mutex> guard(g_registry.lock);
    if (Tracked* t = g_registry.find(stream))
        *t = Tracked{};
}

enum class Route { Zlib, OneShot, AfterEnd };

// Decides one call. OneShot only for the first call after init, with Z_FINISH, input and an
// output buffer: the shape of a whole block coded at once. Empty input stays with zlib: the
// library writes its end-of-file marker by deflating an empty block, and readers look for zlib's
// exact bytes there.
Route route(z_streamp strm, Kind kind, int flush, int* level) {
    if (strm == nullptr)
        return Route::Zlib;
    std::lock_guard<std::mutex> guard(g_registry.lock);
    Tracked* t = g_registry.find(strm);
    if (t == nullptr || t->kind != kind)
        return Route::Zlib;
    switch (t->phase) {
    case Phase::Fresh:
        if (flush == Z_FINISH && strm->total_in == 0 && strm->total_out == 0 &&
            strm->avail_in != 0 && strm->next_in != nullptr && strm->next_out != nullptr) {
            *level = t->level;
            return Route::OneShot;
        }
        t->phase = Phase::Zlib;
        return Route::Zlib;
    case Phase::Finished:
        if (strm->total_in == t->total_in && strm->total_out == t->total_out)
            return Route::AfterEnd;
        // Reset through an entry we do not wrap: zlib's untouched state fits it again.
        t->phase = Phase::Zlib;
        return Route::Zlib;
    case Phase::Zlib:
        break;
    }
    return Route::Zlib;
}

// Records the outcome of a OneShot attempt.
void settle(const z_stream* strm, bool finished) {
    std::lock_guard<std::mutex> guard(g_registry.lock);
    Tracked* t = g_registry.find(strm);
    if (t == nullptr)
        return;
    t->phase = finished ? Phase::Finished : Phase::Zlib;
    t->total_in = strm->total_in;
    t->total_out = strm->total_out;
}

// A few idle coders kept for reuse, so a block costs no allocation. Never destroyed: the
// Drain object below frees the idle ones when the module goes away and closes the pool.
template <class Coder, void (*FreeCoder)(Coder*)> struct Pool {
    static constexpr int kIdle = 4;
    std::mutex lock;
    Coder* idle[kIdle] = {};
    int count = 0;
    bool closed = false;

    Coder* take() {
        std::lock_guard<std::mutex> guard(lock);
        return count > 0 ? idle[--count] : nullptr;
    }
    void give(Coder* coder) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!closed && count < kIdle) {
                idle[count++] = coder;
                return;
            }
        }
        FreeCoder(coder);
    }
    void drain() {
        std::lock_guard<std::mutex> guard(lock);
        closed = true;
        while (count > 0)
            FreeCoder(idle[--count]);
    }
};

void free_decompressor(libdeflate_decompressor* d) {
    libdeflate_free_decompressor(d);
}
void free_compressor(libdeflate_compressor* c) {
    libdeflate_free_compressor(c);
}

Pool<libdeflate_decompressor, free_decompressor> g_decompressors;
Pool<libdeflate_compressor, free_compressor> g_compressors[kLevels];

struct Drain {
    Drain() = default;
    Drain(const Drain&) = delete;
    Drain& operator=(const Drain&) = delete;
    ~Drain() {
        g_decompressors.drain();
        for (auto& pool : g_compressors)
            pool.drain();
    }
} g_drain;

void advance(z_streamp strm, std::size_t in, std::size_t out) {
    strm->next_in += in;
    strm->avail_in -= static_cast<uInt>(in);
    strm->total_in += static_cast<uLong>(in);
    strm->next_out += out;
    strm->avail_out -= static_cast<uInt>(out);
    strm->total_out += static_cast<uLong>(out);
}

// Decodes the whole block with libdeflate; false (stream untouched) when libdeflate declines it.
bool inflate_block(z_streamp strm) {
    libdeflate_decompressor* d = g_decompressors.take();
    if (d == nullptr)
        d = libdeflate_alloc_decompressor();
    if (d == nullptr)
        return false;
    std::size_t in = 0;
    std::size_t out = 0;
    const libdeflate_result result = libdeflate_deflate_decompress_ex(
        d, strm->next_in, strm->avail_in, strm->next_out, strm->avail_out, &in, &out);
    g_decompressors.give(d);
    if (result != LIBDEFLATE_SUCCESS)
        return false;
    advance(strm, in, out);
    return true;
}

// Encodes the whole input as one raw-deflate stream; false (stream untouched) when it does not fit.
bool deflate_block(z_streamp strm, int level) {
    const int lib_level = level == Z_DEFAULT_COMPRESSION ? kZlibDefaultLevel : level;
    if (lib_level < 0 || lib_level >= kLevels)
        return false;
    auto& pool = g_compressors[lib_level];
    libdeflate_compressor* c = pool.take();
    if (c == nullptr)
        c = libdeflate_alloc_compressor(lib_level);
    if (c == nullptr)
        return false;
    const std::size_t written = libdeflate_deflate_compress(c, strm->next_in, strm->avail_in,
                                                            strm->next_out, strm->avail_out);
    pool.give(c);
    if (written == 0)
        return false;
    advance(strm, strm->avail_in, written);
    return true;
}

int zlib_error(z_streamp strm, int code) {
    strm->msg = const_cast<char*>(zError(code));
    return code;
}

} // namespace

DeflateShimCounts deflate_shim_counts() {
    DeflateShimCounts counts;
    counts.fast_inflated_blocks = g_fast_inflates.load(std::memory_order_relaxed);
    counts.zlib_inflate_calls = g_zlib_inflates.load(std::memory_order_relaxed);
    counts.fast_deflated_blocks = g_fast_deflates.load(std::memory_order_relaxed);
    counts.zlib_deflate_calls = g_zlib_deflates.load(std::memory_order_relaxed);
    return counts;
}

void set_deflate_shim_enabled(bool enabled) {
    g_enabled.store(enabled, std::memory_order_relaxed);
}

} // namespace alignport

using namespace alignport;

extern "C" int __wrap_inflateInit2_(z_streamp strm, int windowBits, const char* version,
                                    int stream_size) {
    const int result = __real_inflateInit2_(strm, windowBits, version, stream_size);
    if (result == Z_OK && windowBits == kRawWindowBits && g_enabled.load(std::memory_order_relaxed))
        track(strm, Kind::Inflate, 0);
    else
        forget(strm);
    return result;
}

extern "C" int __wrap_inflate(z_streamp strm, int flush) {
    int level = 0;
    switch (route(strm, Kind::Inflate, flush, &level)) {
    case Route::OneShot:
        if (inflate_block(strm)) {
            settle(strm, true);
            g_fast_inflates.fetch_add(1, std::memory_order_relaxed);
            return Z_STREAM_END;
        }
        settle(strm, false);
        break;
    case Route::AfterEnd:
        // What zlib answers once its stream is done.
        if (strm->next_out == nullptr || (strm->next_in == nullptr && strm->avail_in != 0))
            return Z_STREAM_ERROR;
        return Z_STREAM_END;
    case Route::Zlib:
        break;
    }
    g_zlib_inflates.fetch_add(1, std::memory_order_relaxed);
    return __real_inflate(strm, flush);
}

extern "C" int __wrap_inflateEnd(z_streamp strm) {
    forget(strm);
    return __real_inflateEnd(strm);
}

extern "C" int __wrap_deflateInit2_(z_streamp strm, int level, int method, int windowBits,
                                    int memLevel, int strategy, const char* version,
                                    int stream_size) {
    const int result = __real_deflateInit2_(strm, level, method, windowBits, memLevel, strategy,
                                            version, stream_size);
    if (result == Z_OK && method == Z_DEFLATED && windowBits == kRawWindowBits &&
        memLevel == kLibraryMemLevel && strategy == Z_DEFAULT_STRATEGY &&
        g_enabled.load(std::memory_order_relaxed))
        track(strm, Kind::Deflate, level);
    else
        forget(strm);
    return result;
}

extern "C" int __wrap_deflate(z_streamp strm, int flush) {
    int level = 0;
    switch (route(strm, Kind::Deflate, flush, &level)) {
    case Route::OneShot:
        if (deflate_block(strm, level)) {
            settle(strm, true);
            g_fast_deflates.fetch_add(1, std::memory_order_relaxed);
            return Z_STREAM_END;
        }
        settle(strm, false);
        break;
    case Route::AfterEnd:
        // What zlib answers for a finished raw stream.
        if (strm->next_out == nullptr || (strm->avail_in != 0 && strm->next_in == nullptr) ||
            flush != Z_FINISH)
            return zlib_error(strm, Z_STREAM_ERROR);
        if (strm->avail_out == 0 || strm->avail_in != 0)
            return zlib_error(strm, Z_BUF_ERROR);
        return Z_STREAM_END;
    case Route::Zlib:
        break;
    }
    g_zlib_deflates.fetch_add(1, std::memory_order_relaxed);
    return __real_deflate(strm, flush);
}

extern "C" int __wrap_deflateEnd(z_streamp strm) {
    forget(strm);
    return __real_deflateEnd(strm);
}

// zlib's answer for no buffer is the initial value 0, whatever crc is.
extern "C" uLong __wrap_crc32(uLong crc, const Bytef* buf, uInt len) {
    if (buf == nullptr)
        return 0;
    if (!g_enabled.load(std::memory_order_relaxed))
        return __real_crc32(crc, buf, len);
    return libdeflate_crc32(static_cast<std::uint32_t>(crc), buf, len);
}
