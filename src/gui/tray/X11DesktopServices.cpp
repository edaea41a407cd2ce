// The desktop services of a freedesktop.org desktop on X11.
#include "platform/DesktopServices.hpp"

#include "gui/tray/DesktopNotifier.hpp"
#include "gui/tray/X11HotKey.hpp"

namespace vesperon::platform {

std::unique_ptr<Notifier> makeNotifier() {
    return std::make_unique<gui::DesktopNotifier>();
}

std::unique_ptr<HotKey> makeHotKey() {
    return std::make_unique<gui::X11HotKey>();
}

} // namespace vesperon::platform
