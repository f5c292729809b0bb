#include "walk_outcome.h"

#include "bam_layer.h"
#include "services.h"

namespace alignport {

void raise_corrupted_bam() { plugin_error("CorruptedBAMFile", "BAM file is corrupted."); }

void raise_walk_failure(int walkResult) {
    if (walkResult == kWalkCorrupt)
        raise_corrupted_bam();
    HostInterrupt::HandlePendingInterrupt();
    plugin_error("IterruptedByUser", "Operation terminated by user.");
}

} // namespace alignport
