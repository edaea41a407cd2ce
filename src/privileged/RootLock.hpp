#pragma once

#include <chrono>

namespace vesperon {

// How long a root mode waits for another root process to finish its transaction.
// The longest legitimate holder is a restore whose every tool runs into its time
// limit; a holder that keeps the lock longer is stuck, and waiting for ever would
// leave sleep to nobody.
constexpr std::chrono::seconds rootLockPatience{120};

// Takes the process-wide root lock that makes each change of the sleep override,
// the session record, the root state and the job one transaction. Waits at most
// `rootLockPatience` for the lock. On any failure (a lock file that is not a private
// regular file of ours, or a holder that does not let go) it prints "Could not lock
// the power-setting transaction." and ends the process with status 1, so it only
// returns holding the lock.
int rootLock();

// Releases the lock and closes its descriptor; results are ignored.
void rootUnlock(int fd);

// Takes an exclusive lock on `fd`, trying again until `patience` has passed.
// False when the lock could not be had in time or flock failed.
[[nodiscard]] bool lockWithin(int fd, std::chrono::milliseconds patience);

} // namespace vesperon
