// Checks that several services begin with, raised through the contract's rows.
#pragma once

#include "bam_layer.h"
#include "contract.h"

#include <cstddef>

namespace alignport {

// The counts of the service's contract: ServiceInputCount when inCount is not its number of
// inputs, then ServiceOutputCount when outCount is above its maximum (not checked for -1).
void check_counts(ServiceId service, int inCount, int outCount);

// Reads a BAM file name from input into name (size bytes) and opens it with open_bam. Raises
// InvalidBamName for a text that is not one or does not fit, CannotOpenBam when the file
// does not open as BAM.
SamFilePtr open_named_bam(const haArray* input, char* name, std::size_t size);

} // namespace alignport
