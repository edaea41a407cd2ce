#pragma once

#include <array>
#include <string_view>

namespace vesperon::platform {

// How this system opens its terminal application: the commands to try in turn, each
// a program and at most two arguments (empty ones are left out).
struct TerminalLauncher {
    std::string_view program;
    std::array<std::string_view, 2> arguments;
};

#if defined(__APPLE__)
inline constexpr std::array terminalLaunchers{
    TerminalLauncher{"/usr/bin/open", {"-a", "Terminal"}},
};
#else
// Debian's alternatives name the desktop's terminal x-terminal-emulator; the others
// are the usual desktops' own.
inline constexpr std::array terminalLaunchers{
    TerminalLauncher{"x-terminal-emulator", {}},
    TerminalLauncher{"gnome-terminal", {}},
    TerminalLauncher{"konsole", {}},
    TerminalLauncher{"xterm", {}},
};
#endif

} // namespace vesperon::platform
