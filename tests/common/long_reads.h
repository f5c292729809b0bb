// Long reads as an aligner writes them, shared by the suites that check long-read results: a
// seeded simulator of references and reads (substitutions, insertions, deletions, reverse
// strands, a chimera joining two references, a read that maps nowhere) and minimap2 to align
// them, with or without --eqx.
#pragma once

#include "testkit.h"

#include <cstddef>
#include <string>
#include <vector>

namespace longreads {

struct Shape {
    std::vector<std::size_t> reference_lengths; // one reference "chrA", "chrB", ... each
    std::vector<std::size_t> read_lengths;      // cycled through by the mapped reads
    int mapped_reads = 24;
};

struct Corpus {
    std::string reference_fasta;
    std::string reads_fastq;
    std::vector<std::string> names; // the reads in order
    std::vector<std::string> bases; // their sequences, as in the FASTQ
};

Corpus simulate(unsigned seed, const Shape& shape);

// The reads as FASTA, each sequence on one line.
std::string reads_fasta(const Corpus& corpus);

bool minimap2_available();

// Aligns the reads to the references with minimap2 (-t 1 -ax map-ont, --eqx when asked) into
// the SAM file at sam_path, in minimap2's order; false when minimap2 fails.
bool align(const std::string& reference_path, const std::string& reads_path, bool eqx,
           const std::string& sam_path);

} // namespace longreads
