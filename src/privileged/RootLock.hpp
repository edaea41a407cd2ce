#pragma once

namespace vesperon {

// Takes the process-wide root lock that makes each change of the sleep override,
// the session record, the root state and the job one transaction. Blocks until the
// lock is free. On any failure it prints "Could not lock the power-setting
// transaction." and ends the process with status 1, so it only returns holding the lock.
int rootLock();

// Releases the lock and closes its descriptor; results are ignored.
void rootUnlock(int fd);

} // namespace vesperon
