// The entry of flatmark: checks the counts and runs the 32-bit or 64-bit instance of
// buildindex as input 4 asks.
#include "build_index.h"

#include <cstdint>

namespace flatmark {
namespace {

constexpr int kInputCount = 12;
constexpr int kMaxOutputs = 2;

void run(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[]) {
    if (inCount != kInputCount)
        hxb::raise(kIdInvalidNumInputArg, kMsgInvalidNumInputArg);
    if (outCount > kMaxOutputs)
        hxb::raise(kIdInvalidNumOutputArg, kMsgInvalidNumOutputArg);
    if (hxb::read_flag_low8(inArgs[3]) != 0)
        buildindex<std::uint64_t>(outCount, outSlots, inArgs);
    else
        buildindex<std::uint32_t>(outCount, outSlots, inArgs);
}

} // namespace
} // namespace flatmark

extern "C" void hxFunction(int outCount, haArray* outSlots[], int inCount,
                           const haArray* inArgs[]) {
    hxb::firewall("flatmark", [&] { flatmark::run(outCount, outSlots, inCount, inArgs); });
}
