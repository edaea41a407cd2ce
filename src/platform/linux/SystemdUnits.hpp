#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "common/Error.hpp"
#include "platform/linux/SystemBus.hpp"

namespace vesperon::platform {

// The watcher as a transient systemd service, over systemd's D-Bus API.

// Starts `unit` running `arguments` (the program first), restarted whenever it exits,
// at most every 5 seconds, for as long as the program's file exists: a restart that
// finds it gone ends the unit instead of failing every 5 seconds forever. Unloaded
// once it stops, also after a failure.
[[nodiscard]] Result<void> startTransientService(SystemBus& bus, const std::string& unit,
                                                 const std::vector<std::string>& arguments);

// Asks systemd to stop `unit`; fails when systemd does not know it.
[[nodiscard]] Result<void> stopUnit(SystemBus& bus, const std::string& unit);

// The unit's ActiveState ("active", "deactivating", "inactive", …); nothing when
// systemd has no such unit loaded; an error when systemd does not say.
[[nodiscard]] Result<std::optional<std::string>> unitActiveState(SystemBus& bus,
                                                                 const std::string& unit);

// The service's main process (MainPID); nothing when systemd has no such unit loaded
// or the unit runs no process; an error when systemd does not say.
[[nodiscard]] Result<std::optional<pid_t>> unitMainProcess(SystemBus& bus, const std::string& unit);

} // namespace vesperon::platform
