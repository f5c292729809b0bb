// The exception firewall when memory has run out: the plug-in's side of the way to the host
// allocates nothing, so the host's error is what leaves the entry, never a second bad_alloc.
//
// This binary replaces the global operator new. Outside a Budget it only forwards to malloc;
// inside one it counts every allocation and fails each beyond the budget, as a process whose
// memory is exhausted would.
#include "hxutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

namespace {

bool g_counting = false;
long g_allocations = 0;
long g_budget = -1; // below 0: no limit

void* allocate(std::size_t size) {
    if (g_counting) {
        if (g_budget >= 0 && g_allocations >= g_budget)
            throw std::bad_alloc();
        ++g_allocations;
    }
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

// Between start and stop (or its end), counts the allocations made; with a budget of 0 or
// more, each one beyond it fails.
class Budget {
public:
    Budget() = default;
    ~Budget() { stop(); }
    Budget(const Budget&) = delete;
    Budget& operator=(const Budget&) = delete;
    void start(long budget = -1) {
        g_allocations = 0;
        g_budget = budget;
        g_counting = true;
    }
    long stop() {
        g_counting = false;
        g_budget = -1;
        return g_allocations;
    }
};

} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

enum class Thrown { BadAlloc, RuntimeError, Int };

struct OomCase {
    const char* label;
    const char* plugin;
    Thrown thrown;
    const char* identifier;
    const char* message;
};

const std::string kLongWhat(300, 'w'); // past any small-string buffer, and past 256 characters

// error is made beforehand: throwing a copy of it allocates nothing.
[[noreturn]] void throw_case(Thrown thrown, const std::runtime_error& error) {
    switch (thrown) {
    case Thrown::BadAlloc:
        throw std::bad_alloc();
    case Thrown::RuntimeError:
        throw error;
    case Thrown::Int:
        break;
    }
    throw 7;
}

struct Outcome {
    bool host_error = false;
    bool foreign = false;
    std::string identifier;
    std::string message;
    long allocations = 0;
};

// The firewall of plug-in c.plugin around a body that throws c.thrown; allocations counted (and
// failed beyond budget) from the moment the body throws until the exception leaves.
Outcome through_firewall(const OomCase& c, long budget) {
    const std::runtime_error error(kLongWhat);
    Outcome out;
    {
        Budget counter;
        try {
            hxb::firewall(c.plugin, [&] {
                counter.start(budget);
                throw_case(c.thrown, error);
            });
        } catch (const hx::HostError& e) {
            out.allocations = counter.stop();
            out.host_error = true;
            out.identifier = e.identifier();
            out.message = e.message();
        } catch (...) {
            out.allocations = counter.stop();
            out.foreign = true;
        }
    }
    return out;
}

// What the host itself allocates to raise this identifier and message.
long host_allocations(const OomCase& c, const std::string& message) {
    Budget counter;
    counter.start();
    try {
        hxErrMsgIdAndTxt(c.identifier, "%s", message.c_str());
    } catch (const hx::HostError&) {
    }
    return counter.stop();
}

std::string expected_message(const OomCase& c) {
    return c.message != nullptr ? std::string(c.message) : "Internal error: " + kLongWhat;
}

class FirewallOutOfMemory : public ::testing::TestWithParam<OomCase> {};

TEST_P(FirewallOutOfMemory, AllocatesNothingOfItsOwnOnTheWayToTheHost) {
    const OomCase& c = GetParam();
    const long host = host_allocations(c, expected_message(c));
    const Outcome out = through_firewall(c, -1);
    ASSERT_TRUE(out.host_error);
    EXPECT_EQ(out.identifier, c.identifier);
    EXPECT_EQ(out.message, expected_message(c));
    EXPECT_EQ(out.allocations, host) << "the firewall allocated besides the host";
}

TEST_P(FirewallOutOfMemory, DeliversTheHostErrorWhileEveryOtherAllocationFails) {
    const OomCase& c = GetParam();
    // Only what the host needs for its own error is granted; a plug-in allocation before it
    // would use up the budget and the host's own would then fail with a second bad_alloc.
    const Outcome out = through_firewall(c, host_allocations(c, expected_message(c)));
    EXPECT_FALSE(out.foreign) << "a bad_alloc escaped the firewall";
    ASSERT_TRUE(out.host_error);
    EXPECT_EQ(out.identifier, c.identifier);
    EXPECT_EQ(out.message, expected_message(c));
}

const OomCase kCases[] = {
    {"BadAlloc", "probe", Thrown::BadAlloc, "helixo:probe:OutOfMemory", "Out of memory."},
    {"BadAllocOfALongName", "traitmark", Thrown::BadAlloc, "helixo:traitmark:OutOfMemory",
     "Out of memory."},
    {"RuntimeErrorWithALongText", "flatmark", Thrown::RuntimeError, "helixo:flatmark:InternalError",
     nullptr},
    {"UnknownException", "alignport", Thrown::Int, "helixo:alignport:InternalError",
     "Internal error: unknown exception."},
};

INSTANTIATE_TEST_SUITE_P(Table, FirewallOutOfMemory, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<OomCase>& p) {
                             return std::string(p.param.label);
                         });

// A plug-in name too long for the identifier buffer is cut, never written past it.
TEST(FirewallIdentifier, AnOverlongPluginNameIsCutToTheBuffer) {
    const std::string name(400, 'p');
    try {
        hxb::firewall(name.c_str(), [] { throw std::bad_alloc(); });
        FAIL() << "the firewall returned";
    } catch (const hx::HostError& e) {
        EXPECT_EQ(e.identifier().size(), hxb::kIdentifierBuffer - 1);
        EXPECT_EQ(e.identifier(), ("helixo:" + name).substr(0, hxb::kIdentifierBuffer - 1));
        EXPECT_EQ(e.message(), "Out of memory.");
    }
}

} // namespace
