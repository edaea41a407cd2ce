#pragma once

#include <string_view>

// The words shown to a user that name this platform's own things. A Mac build keeps
// the product's texts, and so does the sandbox, which stands in for a Mac; Linux says
// what is true there.
namespace vesperon::platformWords {

#if defined(VESPERON_PLATFORM_LINUX)
inline constexpr std::string_view machine = "computer";
inline constexpr std::string_view statusArea = "system tray";
inline constexpr std::string_view waitingForAuthorization = "Waiting for authorization…";
inline constexpr std::string_view cannotStartAdvice =
    "Connect power or charge above 15%, and let the computer cool down.";
inline constexpr std::string_view sleepSettingUnreadable =
    "Could not read the sleep setting: logind or systemd did not answer.";
#else
inline constexpr std::string_view machine = "Mac";
inline constexpr std::string_view statusArea = "menu bar";
inline constexpr std::string_view waitingForAuthorization = "Waiting for macOS authorization…";
inline constexpr std::string_view cannotStartAdvice =
    "Connect power or charge above 15%, and let the Mac cool down.";
inline constexpr std::string_view sleepSettingUnreadable =
    "Could not read the sleep setting from the power tool.";
#endif

} // namespace vesperon::platformWords
