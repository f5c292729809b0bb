// A BAM file cut short, with the index of the whole file:
// what a user has after an interrupted copy.
#pragma once

#include "testkit.h"

#include <string>

namespace damaged {

// Where the copy ends: in the middle of a compressed block (its reads fail), or at the start of
// a block (its reads meet a clean end of file, short of what the index says the file holds).
enum class Cut { MidBlock, BlockBoundary };

// Writes a copy of bam cut in or before the block at fraction of its size as NAME.bam, and
// copies bam.bai beside it as NAME.bam.bai. Returns the new BAM's path.
std::string truncated_copy(const testkit::TempDir& dir, const std::string& bam,
                           const std::string& name, double fraction, Cut cut = Cut::MidBlock);

} // namespace damaged
