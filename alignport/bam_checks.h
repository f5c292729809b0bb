// Checks of BAM header and record bytes, made before anything uses them. The BAM library
// trusts every length and count it reads: a damaged file makes it allocate gigabytes, write
// through a null pointer or read past a record. These checks accept what a well-formed file
// holds and nothing else; they need no open file, so they can be exercised on bytes alone.
#pragma once

#include <samtools/bam.h>

#include <cstddef>
#include <cstdint>

namespace alignport {

// Largest record the reader accepts, fixed part included: the library keeps sizes in int.
constexpr std::int32_t kMaxRecordBlock = 0x7fffffff - 64;

// The fixed 32 bytes of a record, decoded as the library stores them.
void decode_record_core(const std::uint8_t fixed[32], bam1_core_t* core);

// True when the variable part of a record (size bytes at data, the bytes after the fixed part)
// is well formed for core: a zero-terminated name of l_qname >= 1 bytes, CIGAR, sequence and
// quality within the record, CIGAR operation codes 0 to 8, a mapped record's CIGAR
// covering exactly its sequence (when it has one), reference numbers in -1 .. n_ref - 1,
// a position >= -1, and every optional field of a known type whose length lies within the
// record (Z and H terminated, B counts that fit). n_ref < 0 leaves the reference numbers
// unchecked (a stream whose header the reader has not seen).
bool record_is_valid(const bam1_core_t& core, const std::uint8_t* data, std::int64_t size,
                     std::int32_t n_ref);

// A source of uncompressed BAM bytes: returns the number of bytes read into buffer (fewer than
// length only at the end of the data) or a negative value on a read error.
using ReadBytes = int (*)(void* source, void* buffer, int length);

// Reads and checks a BAM header from source: the magic, a text of l_text >= 0 bytes whose lines
// (up to a first zero byte) each begin with '@', n_ref >= 0
// references each with a name of l_name >= 1 bytes (taken as its stated length, a terminator
// added) and a length. Storage grows with what is actually read, so a count that the data does
// not hold costs no more than the data. Returns a header owned by the caller
// (bam_header_destroy), or null when the bytes are not a well-formed header.
bam_header_t* read_checked_header(ReadBytes read, void* source);

} // namespace alignport
