// The library guard, a link-time component (helixo_library_guard). It intercepts abort(), exit()
// and __assert_fail: the plug-in is linked with --wrap for the three, so every call of them made
// by the code linked into it (the BAM library's objects included) lands in the wrappers at the
// end of this file. Why: the library's SAM reader aborts on a malformed record line and exits on
// a record naming a reference that a header without references cannot resolve, and its region
// iterator asserts on what a damaged index can break; any of these would end the host process.
// Inside a guarded call (guard_depth > 0) the wrapper throws instead, the library's C frames
// unwind (its objects carry unwind tables) and the call reports that the library gave up; outside
// one the real function runs.
// Where the linker cannot wrap, or HELIXO_ABORT_WRAP is OFF (HELIXO_ABORT_WRAP 0): a SIGABRT
// handler, installed around each guarded call except the per-record iterator read, jumps back to
// the guard; exit() and failed assertions are not intercepted.
#include "library_guard.h"
#include "sam_read_guard.h"

#ifndef HELIXO_ABORT_WRAP
#define HELIXO_ABORT_WRAP 0
#endif

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <setjmp.h>

#if HELIXO_ABORT_WRAP
// The plug-in is linked with --wrap=abort and --wrap=exit: every call to abort() or exit() made
// by the code linked into it (the BAM library's objects included) lands here. The library's
// objects carry unwind tables, so an exception thrown here unwinds its C frames to the guard.
// __assert_fail too: the library's iterator asserts that a read ends where the index's chunk
// ends, which a damaged index can break.
extern "C" {
[[noreturn]] void __real_abort(void);
[[noreturn]] void __real_exit(int status);
[[noreturn]] void __real___assert_fail(const char* assertion, const char* file, unsigned int line,
                                       const char* function);
[[noreturn]] void __wrap_abort(void);
[[noreturn]] void __wrap_exit(int status);
[[noreturn]] void __wrap___assert_fail(const char* assertion, const char* file, unsigned int line,
                                       const char* function);
}
#endif

namespace alignport {

namespace {

#if HELIXO_ABORT_WRAP

// Plain process-wide state: the plug-ins start no threads and the library runs none in the calls
// guarded here (the sort is asked for none). Thread-local storage in a module loaded at run time
// would also cost a lookup on every record read.
struct LibraryGaveUp {};
int guard_depth = 0;

struct GuardScope {
    GuardScope() { ++guard_depth; }
    ~GuardScope() { --guard_depth; }
    GuardScope(const GuardScope&) = delete;
    GuardScope& operator=(const GuardScope&) = delete;
};

template <class Body> bool guarded(Body&& body) {
    GuardScope scope;
    try {
        body();
        return true;
    } catch (const LibraryGaveUp&) {
        return false;
    }
}

#else

// Where the linker cannot wrap abort(), a SIGABRT handler jumps back to the guard (POSIX lets
// abort() return control this way when the handler does not return). exit() cannot be caught:
// the services' header test keeps every path away from the library's only exit().
sigjmp_buf* active_jump = nullptr;

extern "C" void jump_back_to_guard(int) {
    if (active_jump != nullptr)
        siglongjmp(*active_jump, 1);
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
}

struct JumpScope {
    struct sigaction previous {};
    sigjmp_buf* outer;
    explicit JumpScope(sigjmp_buf* env) : outer(active_jump) {
        struct sigaction handler {};
        handler.sa_handler = jump_back_to_guard;
        handler.sa_flags = SA_NODEFER; // SIGABRT stays unblocked after the jump
        sigemptyset(&handler.sa_mask);
        sigaction(SIGABRT, &handler, &previous);
        active_jump = env;
    }
    ~JumpScope() {
        active_jump = outer;
        sigaction(SIGABRT, &previous, nullptr);
    }
    JumpScope(const JumpScope&) = delete;
    JumpScope& operator=(const JumpScope&) = delete;
};

// A macro rather than a function: sigsetjmp must run in the frame that stays alive.
#define HELIXO_GUARDED(statement)                                                                  \
    do {                                                                                           \
        sigjmp_buf env_;                                                                           \
        JumpScope scope_(&env_);                                                                   \
        if (sigsetjmp(env_, 0) != 0)                                                               \
            return false;                                                                          \
        statement;                                                                                 \
    } while (0)

#endif

bool open_guarded(const char* name, const char* mode, samfile_t*& file) {
#if HELIXO_ABORT_WRAP
    return guarded([&] { file = samopen(name, mode, nullptr); });
#else
    HELIXO_GUARDED(file = samopen(name, mode, nullptr));
    return true;
#endif
}

bool read_guarded(samfile_t* file, bam1_t* record, int& result) {
#if HELIXO_ABORT_WRAP
    return guarded([&] { result = samread(file, record); });
#else
    HELIXO_GUARDED(result = samread(file, record));
    return true;
#endif
}

int iter_read_guarded(bamFile file, bam_iter_t iter, bam1_t* record) {
#if HELIXO_ABORT_WRAP
    int result = 0;
    return guarded([&] { result = bam_iter_read(file, iter, record); }) ? result : kReadAbandoned;
#else
    // A signal handler set and reset around every record would cost two system calls a record.
    return bam_iter_read(file, iter, record);
#endif
}

} // namespace

SamFilePtr guarded_samopen(const char* name, const char* mode) {
    if (std::strcmp(mode, "rb") == 0)
        return open_bam(name); // the BAM reader neither aborts nor exits
    samfile_t* raw = nullptr;
    if (!open_guarded(name, mode, raw))
        return nullptr;
    SamFilePtr file(raw);
    if (file && file->header == nullptr)
        file.reset();
    return file;
}

int guarded_samread(samfile_t* file, bam1_t* record) {
    settle_first_sam_read(file);
    int result = 0;
    return read_guarded(file, record, result) ? result : kReadAbandoned;
}

int guarded_iter_read(bamFile file, bam_iter_t iter, bam1_t* record) {
    return iter_read_guarded(file, iter, record);
}

bool call_guarded(int (*fn)(void* context), void* context, int& result) {
#if HELIXO_ABORT_WRAP
    return guarded([&] { result = fn(context); });
#else
    HELIXO_GUARDED(result = fn(context));
    return true;
#endif
}

} // namespace alignport

#if HELIXO_ABORT_WRAP
extern "C" {

void __wrap_abort(void) {
    if (alignport::guard_depth > 0)
        throw alignport::LibraryGaveUp{};
    __real_abort();
}

void __wrap_exit(int status) {
    if (alignport::guard_depth > 0)
        throw alignport::LibraryGaveUp{};
    __real_exit(status);
}

void __wrap___assert_fail(const char* assertion, const char* file, unsigned int line,
                          const char* function) {
    if (alignport::guard_depth > 0)
        throw alignport::LibraryGaveUp{};
    __real___assert_fail(assertion, file, line, function);
}

} // extern "C"
#endif
