// The interrupt protocol of the host: one pending flag, polls numbered over both kinds, the
// stop request at poll K, IsInterruptPending leaving it and HandlePendingInterrupt clearing it.
#include "testkit.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <pthread.h>
#include <thread>

namespace {

struct PollCase {
    long interrupt_at;
    const char* pattern; // 'i' IsInterruptPending, 'h' HandlePendingInterrupt
    const char* seen;    // what each poll returned
};

std::string seen_by(const hxhost::CallResult& r) {
    std::string seen;
    for (std::uint8_t flag : hxhost::values_of<std::uint8_t>(r.outputs.at(0).get()))
        seen.push_back(flag ? '1' : '0');
    return seen;
}

hxhost::CallResult polls(const std::string& pattern, long poll_to_stop_at) {
    hxhost::CallOptions options;
    options.interrupt_at = poll_to_stop_at;
    return testkit::call("hxprobe", 1, testkit::args("polls", pattern), options);
}

void PrintTo(const PollCase& c, std::ostream* os) {
    *os << c.interrupt_at << " " << c.pattern;
}

class PollSequence : public ::testing::TestWithParam<PollCase> {};

TEST_P(PollSequence, SeesTheRequestFromPollKUntilHandled) {
    const PollCase& c = GetParam();
    const auto r = polls(c.pattern, c.interrupt_at);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(seen_by(r), c.seen);
    const std::string pattern = c.pattern;
    EXPECT_EQ(r.polls.is_pending, std::count(pattern.begin(), pattern.end(), 'i'));
    EXPECT_EQ(r.polls.handle, std::count(pattern.begin(), pattern.end(), 'h'));
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, PollSequence,
    ::testing::Values(PollCase{0, "iihhi", "00000"},   // no request
                      PollCase{1, "i", "1"},           // the very first poll
                      PollCase{3, "iiiiih", "001111"}, // pending stays until handled
                      PollCase{3, "iihhi", "00100"},   // handled at once, then gone
                      PollCase{2, "hihhi", "01100"},   // numbered over both kinds
                      PollCase{5, "iiii", "0000"}));   // K beyond the last poll

TEST(Interrupts, ReadLoopStopsAtPollK) {
    hxhost::CallOptions options;
    options.interrupt_at = 7;
    const auto r = testkit::call("hxprobe", 1, testkit::args("handle_loop", 100.0), options);
    EXPECT_HX_ERROR(r, "helixo:probe:IterruptedByUser", "Operation terminated by user.");
    EXPECT_EQ(r.polls.handle, 7);
    EXPECT_EQ(r.polls.is_pending, 0);
}

TEST(Interrupts, NumberingAndCountersStartAfreshEachCall) {
    EXPECT_EQ(seen_by(polls("iii", 2)), "011");
    const auto again = polls("iii", 2);
    EXPECT_EQ(seen_by(again), "011");
    EXPECT_EQ(again.polls.is_pending, 3);
}

TEST(Interrupts, RequestLeftFromBeforeTheCallIsNotSeen) {
    hxhost::request_interrupt();
    EXPECT_EQ(seen_by(polls("ih", 0)), "00");
}

TEST(Interrupts, SigintSetsThePendingRequest) {
    hxhost::install_sigint_handler();
    hxhost::clear_interrupt();
    std::raise(SIGINT);
    EXPECT_TRUE(hxhost::interrupt_pending());
    EXPECT_TRUE(HostInterrupt::HandlePendingInterrupt());
    EXPECT_FALSE(hxhost::interrupt_pending());
    std::signal(SIGINT, SIG_DFL);
}

// A poll takes the request in one step: Ctrl-C landing at any instruction of a poll is seen by
// that poll or the next, never cleared unseen. Each signal waits for the previous to be taken.
TEST(Interrupts, NoSigintIsLostWhileAThreadPolls) {
    hxhost::install_sigint_handler();
    hxhost::clear_interrupt();
    std::atomic<long> taken{0};
    std::atomic<bool> done{false};
    std::thread poller([&] {
        while (!done.load(std::memory_order_relaxed))
            if (HostInterrupt::HandlePendingInterrupt())
                taken.fetch_add(1);
    });
    constexpr long kSignals = 5000;
    long sent = 0;
    for (; sent < kSignals; ++sent) {
        if (taken.load() != sent)
            break;
        pthread_kill(poller.native_handle(), SIGINT);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (taken.load() == sent && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }
    done = true;
    poller.join();
    std::signal(SIGINT, SIG_DFL);
    hxhost::clear_interrupt();
    EXPECT_EQ(taken.load(), kSignals) << "signal " << sent + 1 << " was lost";
}

} // namespace
