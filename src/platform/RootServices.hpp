#pragma once

#include "common/Error.hpp"

namespace vesperon {

// What the root side asks of the system: a recovery service that runs the watcher
// (installed at setup, started again by the system should it end while its job is
// installed, at a boot too), and the system-wide sleep override. Each platform does it
// its own way: launchd and pmset on macOS, and their stand-ins (which keep the tools'
// command lines and exit statuses) in the sandbox; a transient systemd service (or a
// detached daemon without systemd) and a logind inhibitor lock on Linux. A failure's
// message is the sentence the user sees and names what failed on this platform.

enum class ServiceState {
    Loaded,    // the service manager has the recovery service
    NotLoaded, // it confirms that it has not
    Unknown,   // it could not say
};

// Installs the recovery service from the job file setup has written, and starts it.
[[nodiscard]] Result<void> startRecoveryService();
// Stops the recovery service and takes it out of the service manager. When the
// watcher calls this for itself, the call may end the caller.
[[nodiscard]] Result<void> stopRecoveryService();
[[nodiscard]] ServiceState recoveryServiceState();

// Switches the sleep override on or off; reading it back is `readSleepOverride`.
[[nodiscard]] Result<void> switchSleepOverride(bool on);
// Puts the display to sleep now, where a root process may; failures are ignored.
void putDisplayToSleep();

} // namespace vesperon
