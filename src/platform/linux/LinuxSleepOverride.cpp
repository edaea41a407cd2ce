// The sleep override on Linux is a logind inhibitor lock; reading asks logind whether
// the lock is held.
#include "platform/SleepOverride.hpp"

#include "platform/linux/Logind.hpp"
#include "platform/linux/SystemBus.hpp"

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
    return platform::holdsOverride(*inhibitors);
}

} // namespace vesperon
