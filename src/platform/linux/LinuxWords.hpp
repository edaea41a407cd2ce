#pragma once

#include <string_view>

// What a Linux user is told about this machine's own things.
namespace vesperon::platformWords {

inline constexpr std::string_view machine = "computer";
inline constexpr std::string_view statusArea = "system tray";
inline constexpr std::string_view waitingForAuthorization = "Waiting for authorization…";
inline constexpr std::string_view cannotStartAdvice =
    "Connect power or charge above 15%, and let the computer cool down.";
inline constexpr std::string_view sleepSettingUnreadable =
    "Could not read the sleep setting: logind or systemd did not answer.";

} // namespace vesperon::platformWords
