#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

#include "common/Error.hpp"

namespace vesperon::platform {

// Where the watcher runs: a transient systemd service named after the job's label,
// or a detached supervisor where systemd does not run.

[[nodiscard]] bool systemdRuns();
[[nodiscard]] std::string watcherUnitName();
[[nodiscard]] std::string detachedServicePidFile();

// Whether this process is the watcher itself: it runs from the copy in the root state.
[[nodiscard]] bool isTheWatcher();

// The watcher's process: this one when it is the watcher, else the one its service
// runs now; nothing when no watcher runs; an error when systemd does not say.
[[nodiscard]] Result<std::optional<pid_t>> watcherProcess();

} // namespace vesperon::platform
