// The desktop services of a freedesktop.org desktop on X11 or Wayland.
#include "platform/DesktopServices.hpp"

#include <cstdlib>
#include <string_view>

#include "gui/tray/DesktopNotifier.hpp"
#include "gui/tray/PortalHotKey.hpp"
#include "gui/tray/X11HotKey.hpp"

namespace vesperon::platform {
namespace {

// A Wayland session grants no key grabs, not even to X11 clients running under it.
bool waylandSession() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* display = std::getenv("WAYLAND_DISPLAY");
    return (type != nullptr && std::string_view(type) == "wayland") ||
           (display != nullptr && *display != '\0');
}

} // namespace

std::unique_ptr<Notifier> makeNotifier() {
    return std::make_unique<gui::DesktopNotifier>();
}

std::unique_ptr<HotKey> makeHotKey() {
    if (waylandSession()) {
        return std::make_unique<gui::PortalHotKey>();
    }
    return std::make_unique<gui::X11HotKey>();
}

} // namespace vesperon::platform
