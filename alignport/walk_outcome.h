// What a service does with a failed region walk (a negative result of zrbam_fetch or
// plain_bam_fetch). Close any file the service opened itself before calling these.
#pragma once

namespace alignport {

// Raises "helixo:alignport:CorruptedBAMFile" / "BAM file is corrupted." (a library read error).
[[noreturn]] void raise_corrupted_bam();

// For a negative walk result: kWalkCorrupt raises the corrupted-file error without touching the
// interrupt; any other negative result is the user's stop: HandlePendingInterrupt is called once
// (its result is not used) and "helixo:alignport:IterruptedByUser" is raised.
[[noreturn]] void raise_walk_failure(int walk_result);

} // namespace alignport
