#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "common/Error.hpp"

namespace vesperon::platform {

// The watcher's service where systemd does not run: a detached supervisor (its own
// session and process group, standard streams on /dev/null, no inherited
// descriptors) that runs `arguments` and runs them again whenever they exit with a
// failure, at most every 5 seconds, until they exit with status 0 or the program's
// file is gone. A watcher outlives its supervisor by no more than a signal: it is
// sent SIGTERM when the supervisor dies.
//
// `pidFile` records the supervisor, whose process id is also its group's, with its
// start time and its executable: a record whose process id now names another process
// (the supervisor ended without removing it, and the id was reused) is recognised as
// stale, and that process is neither reported nor signalled.
[[nodiscard]] Result<void> startDetachedService(const std::vector<std::string>& arguments,
                                                const std::string& pidFile);

// Whether the recorded supervisor runs.
[[nodiscard]] bool detachedServiceRunning(const std::string& pidFile);

// The process the recorded supervisor runs now; nothing when it runs none (or is not
// running itself).
[[nodiscard]] Result<std::optional<pid_t>> detachedServiceProcess(const std::string& pidFile);

// Removes the pid file, then ends the recorded group (SIGTERM, then SIGKILL after 5
// seconds); the file comes back when the group would not end. Fails when nothing was
// running or the group would not end.
[[nodiscard]] Result<void> stopDetachedService(const std::string& pidFile);

} // namespace vesperon::platform
