#pragma once

namespace vesperon {

// Switches the sleep override to `wanted` and reads it back; up to 5 attempts with
// 1 s between them. True once the override reads exactly `wanted`. Prints nothing.
[[nodiscard]] bool rootRestore(bool wanted);

// Removes the job file (and temporary files an interrupted write of it left) and the
// root state folder, then unloads the job. True when
// all went, also when the job was not loaded at all. Prints its own failure line.
[[nodiscard]] bool cleanupJob();

} // namespace vesperon
