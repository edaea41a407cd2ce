// The sleep override on Linux is a logind inhibitor lock held by the watcher; reading
// asks logind whether the watcher holds ours. A lock of anyone else, however it is
// named, is not the override.
#include "platform/SleepOverride.hpp"

#include "platform/linux/Logind.hpp"
#include "platform/linux/SystemBus.hpp"
#include "platform/linux/WatcherService.hpp"

namespace vesperon {

std::optional<bool> readSleepOverride() {
    platform::SystemBus* bus = platform::SystemBus::shared();
    if (bus == nullptr) {
        return std::nullopt;
    }
    const auto inhibitors = platform::listInhibitors(*bus);
    if (!inhibitors) {
        return std::nullopt;
    }
    const auto watcher = platform::watcherProcess();
    if (!watcher) {
        return std::nullopt;
    }
    const std::optional<pid_t>& pid = *watcher;
    return pid && platform::holdsOverride(*inhibitors, *pid);
}

} // namespace vesperon
