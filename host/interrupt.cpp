// The interrupt state of the stand-in host: one process-wide pending flag, set by SIGINT or by
// the test control "stop request at poll number K", and counters of each kind of poll.
#include "hxhost.h"
#include "interrupt_impl.h"

#include <atomic>
#include <csignal>

namespace {

// Atomic so that a poll takes the request in one step: a SIGINT arriving between a separate
// read and clear would be lost. Lock-free, hence safe in the signal handler.
std::atomic<int> g_pending{0};
static_assert(std::atomic<int>::is_always_lock_free);
long g_interrupt_at = 0;
long g_poll_number = 0;
hxhost::PollCounts g_counts;

void count_poll() {
    ++g_poll_number;
    if (g_interrupt_at > 0 && g_poll_number == g_interrupt_at)
        g_pending = 1;
}

// A second Ctrl-C while the first is still unserviced (a plug-in inside a long library call
// that does not poll) ends the process as Ctrl-C normally would.
extern "C" void on_sigint(int) {
    if (g_pending != 0) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
    g_pending = 1;
}

} // namespace

namespace hxhost {

void request_interrupt() noexcept {
    g_pending = 1;
}
bool interrupt_pending() noexcept {
    return g_pending != 0;
}
void clear_interrupt() noexcept {
    g_pending = 0;
}

void install_sigint_handler() {
    struct sigaction action {};
    action.sa_handler = on_sigint;
    // Reads of pipes and slow devices resume after the signal: the stop is the next poll's
    // business, never a read error of the plug-in.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

namespace detail {

void interrupts_begin_call(long interrupt_at) {
    g_interrupt_at = interrupt_at;
    g_poll_number = 0;
    g_counts = PollCounts{};
}

PollCounts interrupts_end_call() {
    g_interrupt_at = 0;
    return g_counts;
}

} // namespace detail

} // namespace hxhost

namespace HostInterrupt {

bool IsInterruptPending() {
    ++g_counts.is_pending;
    count_poll();
    return g_pending != 0;
}

bool HandlePendingInterrupt() {
    ++g_counts.handle;
    count_poll();
    return g_pending.exchange(0) != 0;
}

} // namespace HostInterrupt
