#pragma once

namespace vesperon {

// "--restore": under the root lock, unloads the watcher, switches the sleep override
// off and removes the job and the root state; prints "RESTORED". Works on a clean
// machine too. Returns the exit status; the lock stays held until the process exits.
int restoreMode();

} // namespace vesperon
