// The checked BAM reader beneath the library, a link-time component (helixo_checked_reader).
// It intercepts bam_read1, bam_header_read and bgzf_close: the plug-in is linked with
// --wrap=bam_read1, --wrap=bam_header_read and --wrap=bgzf_close, so every BAM header and record
// read made by the code linked into it (the library's iterator, index builder, sorter and
// samread included) lands here. Why: the library's own readers allocate and write from the
// lengths they read before any check could run; these read the same bytes, check them
// (bam_checks.h) and fill the same structures, so a damaged file is a read error wherever it is
// read. The reader also keeps, per open stream, what the region walk needs to tell a file cut
// short from a complete one (end_of_file_reads).
// Where the linker cannot wrap (HELIXO_CHECKED_READER 0) the library reads unchecked, and the
// counts of bam_record_reader.h stay 0.
#include "bam_record_reader.h"

#include "bam_checks.h"

#include <samtools/bgzf.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#ifndef HELIXO_CHECKED_READER
#define HELIXO_CHECKED_READER 0
#endif

namespace alignport {

namespace {

// Read errors so far (library_read_errors).
unsigned long read_errors = 0;

#if HELIXO_CHECKED_READER

// Result of a record read whose bytes are not a well-formed record (the library's own read
// errors are -2 to -4).
constexpr int kInvalidRecord = -5;

static_assert(sizeof(bam1_core_t) == 32, "the fixed part of a record is 32 bytes");

// Per open stream: the number of references of its header, so that records naming a reference
// the header lacks are refused (-1 while no header was read), and its record reads that met the
// end of the file. Entries go with bgzf_close; the last stream looked up is kept at hand, since
// reads come in long runs from one stream.
struct StreamState {
    const BGZF* stream;
    std::int32_t n_ref;
    unsigned long end_of_file_count;
};
std::vector<StreamState> streams;
constexpr std::size_t kNoStream = static_cast<std::size_t>(-1);
std::size_t last_stream = kNoStream;

// The entry of stream, or null when it has none.
StreamState* find_stream(const BGZF* stream) {
    if (last_stream != kNoStream && streams[last_stream].stream == stream)
        return &streams[last_stream];
    for (std::size_t k = 0; k < streams.size(); ++k) {
        if (streams[k].stream == stream) {
            last_stream = k;
            return &streams[k];
        }
    }
    return nullptr;
}

StreamState& stream_state(const BGZF* stream) {
    if (StreamState* entry = find_stream(stream))
        return *entry;
    streams.push_back({stream, -1, 0});
    last_stream = streams.size() - 1;
    return streams.back();
}

void remember_stream(const BGZF* stream, std::int32_t n_ref) {
    stream_state(stream).n_ref = n_ref;
}

void forget_stream(const BGZF* stream) {
    for (std::size_t k = 0; k < streams.size(); ++k) {
        if (streams[k].stream == stream) {
            streams[k] = streams.back();
            streams.pop_back();
            break;
        }
    }
    last_stream = kNoStream;
}

// -1 for a stream whose header this reader has not seen.
std::int32_t references_of(const BGZF* stream) {
    const StreamState* entry = find_stream(stream);
    return entry != nullptr ? entry->n_ref : -1;
}

// bgzf_read, without the call where the bytes lie inside the block at hand and leave at least
// one byte of it unread: the copy and the new offset are then exactly what bgzf_read makes
// (it does its end-of-block bookkeeping only when a block is used up). Most records of a BAM
// file are read this way.
ssize_t read_bytes(BGZF* fp, void* out, int length) {
    if (fp->is_write == 0 && length < fp->block_length - fp->block_offset) {
        std::memcpy(out,
                    static_cast<const std::uint8_t*>(fp->uncompressed_block) + fp->block_offset,
                    static_cast<std::size_t>(length));
        fp->block_offset += length;
        return length;
    }
    return bgzf_read(fp, out, length);
}

int read_from_stream(void* source, void* buffer, int length) {
    return static_cast<int>(bgzf_read(static_cast<BGZF*>(source), buffer, length));
}

// Makes room for size bytes in the record's buffer, rounding up to a power of two as the
// library does while that fits its int sizes.
bool reserve_data(bam1_t* b, std::int32_t size) {
    if (b->m_data >= size)
        return true;
    std::int32_t capacity = size;
    if (size <= (1 << 30)) {
        capacity = 1;
        while (capacity < size)
            capacity <<= 1;
    }
    auto* data =
        static_cast<std::uint8_t*>(std::realloc(b->data, static_cast<std::size_t>(capacity)));
    if (data == nullptr)
        return false;
    b->data = data;
    b->m_data = capacity;
    return true;
}

// Reads size bytes of record data. A size beyond what the buffer holds grows the buffer in steps
// as the bytes arrive, so a damaged length costs no more memory than the file holds.
bool read_data(BGZF* fp, bam1_t* b, std::int32_t size) {
    constexpr std::int32_t kStep = 1 << 24;
    std::int32_t filled = 0;
    while (filled < size) {
        const std::int32_t part =
            size - filled < kStep || b->m_data >= size ? size - filled : kStep;
        if (!reserve_data(b, filled + part))
            throw std::bad_alloc();
        if (read_bytes(fp, b->data + filled, part) != part)
            return false;
        filled += part;
    }
    return true;
}

int read_record(BGZF* fp, bam1_t* b) {
    // The block size and the fixed part in one read.
    std::uint8_t head[36];
    const ssize_t got = read_bytes(fp, head, 36);
    if (got < 4)
        return got == 0 ? -1 : -2; // nothing left: the end of the file; a part: a cut record
    if (got != 36)
        return -3;
    const std::uint8_t* fixed = head + 4;
    std::int32_t block_size;
    std::memcpy(&block_size, head, 4);
    if (block_size < 32 || block_size > kMaxRecordBlock)
        return kInvalidRecord;
    bam1_core_t& c = b->core;
    decode_record_core(fixed, &c);
    const std::int32_t data_size = block_size - 32;
    if (!read_data(fp, b, data_size))
        return -4;
    b->data_len = data_size;
    if (!record_is_valid(c, b->data, data_size, references_of(fp)))
        return kInvalidRecord;
    b->l_aux = data_size - 4 * static_cast<std::int32_t>(c.n_cigar) - c.l_qname -
               (c.l_qseq + 1) / 2 - c.l_qseq;
    return 4 + block_size;
}

#endif

} // namespace

unsigned long library_read_errors() {
    return read_errors;
}

unsigned long end_of_file_reads(const BGZF* stream) {
#if HELIXO_CHECKED_READER
    const StreamState* entry = find_stream(stream);
    return entry != nullptr ? entry->end_of_file_count : 0;
#else
    (void)stream;
    return 0;
#endif
}

} // namespace alignport

#if HELIXO_CHECKED_READER
extern "C" {
int __real_bgzf_close(BGZF* fp);
int __wrap_bam_read1(BGZF* fp, bam1_t* b);
bam_header_t* __wrap_bam_header_read(BGZF* fp);
int __wrap_bgzf_close(BGZF* fp);

int __wrap_bam_read1(BGZF* fp, bam1_t* b) {
    const int result = alignport::read_record(fp, b);
    if (result < -1)
        ++alignport::read_errors;
    else if (result == -1)
        ++alignport::stream_state(fp).end_of_file_count;
    return result;
}

// A header the checks refuse, or no memory for it, is a failed read: the library's callers
// treat a null header as a file they cannot open.
bam_header_t* __wrap_bam_header_read(BGZF* fp) {
    bam_header_t* header = nullptr;
    try {
        header = alignport::read_checked_header(alignport::read_from_stream, fp);
        if (header != nullptr)
            alignport::remember_stream(fp, header->n_targets);
    } catch (const std::bad_alloc&) {
        if (header != nullptr)
            bam_header_destroy(header);
        header = nullptr;
    }
    return header;
}

int __wrap_bgzf_close(BGZF* fp) {
    alignport::forget_stream(fp);
    return __real_bgzf_close(fp);
}

} // extern "C"
#endif
