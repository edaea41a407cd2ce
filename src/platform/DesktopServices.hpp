#pragma once

#include <memory>

#include "app/HotKey.hpp"
#include "app/Notifier.hpp"

namespace vesperon::platform {

// The desktop's services that the application reaches through its own interfaces,
// made for this platform: on a Mac the user-notification centre and a Carbon hot key,
// elsewhere the desktop notification service over D-Bus and an X11 key grab (the
// desktop portal's global shortcut on a Wayland session). Made on the GUI thread once
// the application object exists, before its event loop runs.
std::unique_ptr<Notifier> makeNotifier();
std::unique_ptr<HotKey> makeHotKey();

} // namespace vesperon::platform
