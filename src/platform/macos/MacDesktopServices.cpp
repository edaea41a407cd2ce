// The desktop services of a Mac.
#include "platform/DesktopServices.hpp"

#include "platform/macos/CarbonHotKey.hpp"
#include "platform/macos/UserNotifier.hpp"

namespace vesperon::platform {

std::unique_ptr<Notifier> makeNotifier() {
    return std::make_unique<UserNotifier>();
}

std::unique_ptr<HotKey> makeHotKey() {
    return std::make_unique<CarbonHotKey>();
}

} // namespace vesperon::platform
