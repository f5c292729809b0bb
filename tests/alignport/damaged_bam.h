// A BAM file cut short in the middle of a compressed block, with the index of the whole file:
// what a user has after an interrupted copy.
#pragma once

#include "testkit.h"

#include <string>

namespace damaged {

// Writes a copy of bam cut in the middle of the block at fraction of its size as
// NAME.bam, and copies bam.bai beside it as NAME.bam.bai. Returns the new BAM's path.
std::string truncated_copy(const testkit::TempDir& dir, const std::string& bam,
                           const std::string& name, double fraction);

} // namespace damaged
