// The entry of flatmark: checks the counts and runs the 32-bit or 64-bit instance of
// buildindex as input 4 asks.
#include "build_index.h"

#include <cstdint>

namespace flatmark {
namespace {

void run(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[]) {
    if (inCount != kInputCount)
        raise_error(Error::InputCount);
    if (outCount > kMaxOutputs)
        raise_error(Error::OutputCount);
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
