#pragma once

namespace vesperon::gui {

// The menu-bar application in the tray: Qt's event loop with the session controller,
// its real services (the administrator request and the machine of this build, desktop
// notifications, the X11 shortcut, the desktop's handlers) and the tray user
// interface. `instanceSocket` is the claimed instance's listening socket, on which
// later starts hand over their URLs; the arguments after the executable are URLs this
// start was opened with. Returns the exit status when the application quits.
[[nodiscard]] int runTrayApplication(int argc, const char* const* argv, int instanceSocket);

} // namespace vesperon::gui
