#include "mate_index.h"

namespace traitmark {
namespace {

// Paired (0x1) and properly paired (0x2), and neither this read (0x4) nor its mate (0x8)
// unmapped; higher bits play no part.
bool is_properly_paired(std::uint16_t flag) {
    return (flag & 0xFu) == 0x3u;
}

} // namespace

MatePairing::MatePairing(std::uint32_t count) : mates_(count, kNoMate) {}

void MatePairing::add(std::uint32_t entry, const char* name, std::size_t length,
                      std::uint16_t flag) {
    mates_[entry] = kNoMate;
    if (!is_properly_paired(flag))
        return;
    lookup_.assign(name, length);
    const auto waiting = pending_.find(lookup_);
    if (waiting == pending_.end()) {
        pending_.emplace(lookup_, entry);
        return;
    }
    mates_[waiting->second] = entry;
    mates_[entry] = waiting->second;
    pending_.erase(waiting);
}

} // namespace traitmark
