// The callbacks of getstartsinref's two passes and what its second pass's end means. Kept in a
// header so the bound on the writes can be exercised on its own.
#pragma once

#include "alignment_fields.h"
#include "bam_layer.h"
#include "hx.h"

#include <cstdint>

namespace alignport {

// Write positions into the outputs' data; null where that output was not asked for.
struct StartsCursor {
    std::uint32_t* start = nullptr;
    std::uint32_t* end = nullptr;
    std::uint16_t* flag = nullptr;
    std::uint32_t room = 0; // rows left: the first pass's count bounds every write
    bool overflow = false;  // the walk delivered more alignments than were counted
};

// First pass: adds one to the std::uint32_t counter it is given.
inline int countalignment(const bam1_t* /*b*/, void* data) {
    ++*static_cast<std::uint32_t*>(data);
    return 0;
}

// Second pass: stores the alignment first and polls after, so the alignment in hand is always
// written before the walk stops. An alignment beyond the counted rows is not written; it stops
// the walk (without a poll) and marks the overflow.
inline int fetchstarts(const bam1_t* b, void* data) {
    auto& c = *static_cast<StartsCursor*>(data);
    if (c.room == 0) {
        c.overflow = true;
        return -1;
    }
    --c.room;
    if (c.start != nullptr)
        *c.start++ = static_cast<std::uint32_t>(b->core.pos) + 1u;
    if (c.end != nullptr)
        *c.end++ = last_reference_base(b);
    if (c.flag != nullptr)
        *c.flag++ = static_cast<std::uint16_t>(b->core.flag);
    return HostInterrupt::IsInterruptPending() ? -1 : 0;
}

enum class SecondPass { Complete, Corrupt, FileChanged, Stopped };

// A read error wins; a pass that delivered more or fewer alignments than the first counted
// means the file changed under the call; any other negative result is the user's stop.
inline SecondPass second_pass_outcome(int walkResult, const StartsCursor& c) {
    if (walkResult == kWalkCorrupt)
        return SecondPass::Corrupt;
    if (c.overflow || (walkResult >= 0 && c.room != 0))
        return SecondPass::FileChanged;
    return walkResult < 0 ? SecondPass::Stopped : SecondPass::Complete;
}

} // namespace alignport
