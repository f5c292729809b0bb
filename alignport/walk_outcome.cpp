#include "walk_outcome.h"

#include "bam_layer.h"
#include "contract.h"

namespace alignport {

void raise_corrupted_bam() {
    raise_error(Error::CorruptedBam);
}

void raise_walk_failure(int walk_result) {
    if (walk_result == kWalkCorrupt)
        raise_corrupted_bam();
    HostInterrupt::HandlePendingInterrupt();
    raise_error(Error::Interrupted);
}

} // namespace alignport
