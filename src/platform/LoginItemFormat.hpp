#pragma once

namespace vesperon {

// How this system opens an application at login: a per-user launchd agent, or the
// desktop's autostart entry.
enum class LoginItemFormat { LaunchAgent, Autostart };

#if defined(__APPLE__)
inline constexpr LoginItemFormat platformLoginItemFormat = LoginItemFormat::LaunchAgent;
#else
inline constexpr LoginItemFormat platformLoginItemFormat = LoginItemFormat::Autostart;
#endif

} // namespace vesperon
