// The alignments of a reference as pysam (htslib 1.16) reads them: an independent peer for the
// values alignport returns.
#pragma once

#include "testkit.h"

#include <cstdint>
#include <string>
#include <vector>

namespace peer {

struct PeerAlignment {
    std::uint32_t flag = 0;
    std::uint32_t position = 0;     // reference_start + 1
    std::uint32_t mappingQuality = 0;
    std::uint32_t matePosition = 0; // next_reference_start + 1
    std::uint32_t queryLength = 0;
    std::uint32_t endPosition = 0;  // reference_end (start + 1 without a CIGAR)
    std::string cigar;              // "*" without operations
    std::string sequence;
    std::string name;
    std::string quality;            // Phred + 33; empty when the record has none
};

// Every alignment that pysam's fetch of reference number ref delivers, in delivery order.
std::vector<PeerAlignment> pysam_fetch(const testkit::TempDir& dir, const std::string& bam, int ref);

// Column of one field of the peer's alignments.
template <class F> auto column(const std::vector<PeerAlignment>& all, F field) {
    std::vector<decltype(field(all.front()))> values;
    for (const PeerAlignment& a : all)
        values.push_back(field(a));
    return values;
}

} // namespace peer
