// Keeps the BAM library's abort() and exit() away from the host. The library's SAM text reader
// aborts on a malformed record line and exits when a record names a reference that a header
// without references cannot resolve; either would end the host process with every unsaved
// result in it. Inside a guarded call such an abort or exit instead ends that call, and the
// caller turns it into an ordinary error. Outside a guard, abort() and exit() behave as usual.
#pragma once

#include <samtools/sam.h>

#include "bam_layer.h"

namespace alignport {

// Result of a guarded record read when the library gave up on the record (abort or exit).
constexpr int kReadAbandoned = -100;

// samopen(name, mode, nullptr) under the guard. For mode "rb" a handle without a header counts
// as a failed open (as open_bam). Null when the file cannot be opened or the library gave up.
SamFilePtr guarded_samopen(const char* name, const char* mode);

// samread(file, record) under the guard: the library's result (>= 0 a record, -1 a clean end of
// file, below -1 a damaged file), or kReadAbandoned when the library aborted or exited on the
// record; on SAM text also kSamLineRefused (sam_read_guard.h) when the record line failed the
// checks. After either the file may only be closed.
int guarded_samread(samfile_t* file, bam1_t* record);

// bam_iter_read(file, iter, record), guarded where the linker wraps abort(): the library's
// result, or kReadAbandoned when the library gave up (its iterator asserts that reads end where
// the index's chunks end, which a damaged index breaks). Unguarded elsewhere: a guard there
// would cost two system calls a record.
int guarded_iter_read(bamFile file, bam_iter_t iter, bam1_t* record);

// Runs fn(context) under the guard and stores its result. Returns false when the library
// aborted or exited inside it (result is then untouched); what the library held at that moment
// may stay allocated.
bool call_guarded(int (*fn)(void* context), void* context, int& result);

} // namespace alignport
