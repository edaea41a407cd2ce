#pragma once

#include <string>
#include <vector>

#include "common/Error.hpp"

namespace vesperon::platform {

// The watcher's service where systemd does not run: a detached supervisor (its own
// session and process group, standard streams on /dev/null, no inherited
// descriptors) that runs `arguments` and runs them again whenever they exit with a
// failure, at most every 5 seconds, until they exit with status 0. The supervisor's
// process id, which is also its group's, is kept in `pidFile`.
[[nodiscard]] Result<void> startDetachedService(const std::vector<std::string>& arguments,
                                                const std::string& pidFile);

// Whether any live (not zombie) process of the recorded group remains.
[[nodiscard]] bool detachedServiceRunning(const std::string& pidFile);

// Ends the recorded group (SIGTERM, then SIGKILL after 5 seconds) and removes the pid
// file; fails when nothing was running or the group would not end.
[[nodiscard]] Result<void> stopDetachedService(const std::string& pidFile);

} // namespace vesperon::platform
