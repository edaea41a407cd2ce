#pragma once

#include <string_view>

// What a Mac user is told about the Mac's own things; the sandbox, which stands in
// for a Mac, says the same.
namespace vesperon::platformWords {

inline constexpr std::string_view machine = "Mac";
inline constexpr std::string_view statusArea = "menu bar";
inline constexpr std::string_view waitingForAuthorization = "Waiting for macOS authorization…";
inline constexpr std::string_view cannotStartAdvice =
    "Connect power or charge above 15%, and let the Mac cool down.";
inline constexpr std::string_view sleepSettingUnreadable =
    "Could not read the sleep setting from the power tool.";

} // namespace vesperon::platformWords
