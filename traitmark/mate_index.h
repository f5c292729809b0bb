// "MateIndex" pairing: the first and second properly paired entries of one QNAME are each
// other's mates, the third and fourth likewise, and so on. The result is that of searching a
// list of pending (QNAME, entry) pairs from its oldest pair on; since a QNAME is pending at
// most once (a second one completes the pair), one hash map from QNAME to its pending entry
// gives the same first match at a cost linear in the number of entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace traitmark {

class MatePairing {
public:
    static constexpr std::uint32_t kNoMate = 0xFFFFFFFFu;

    // Holds one 32-bit mate number per entry for count entries (allocated here, 4 bytes each).
    explicit MatePairing(std::uint32_t count);

    // Entry (from 0, in call order) with QNAME name and FLAG flag.
    void add(std::uint32_t entry, const char* name, std::size_t length, std::uint16_t flag);
    // Entry whose QNAME or FLAG could not be read: it has no mate.
    void add_unreadable(std::uint32_t entry) { mates_[entry] = kNoMate; }

    // Value written for entry: the mate's 1-based entry number, 0 for none.
    std::uint32_t value_of(std::uint32_t entry) const { return mates_[entry] + 1u; }

private:
    std::vector<std::uint32_t> mates_;
    std::unordered_map<std::string, std::uint32_t> pending_;
    std::string lookup_; // reused key, so a lookup costs no allocation
};

} // namespace traitmark
