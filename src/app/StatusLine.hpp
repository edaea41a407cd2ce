#pragma once

#include <string_view>

#include "platform/PlatformWords.hpp"

// The status line: the one-line state of the session controller that the panel shows.
// Each text is set exactly as written here; what the controller decides from its state
// comes from its phase, never from these texts.
namespace vesperon::StatusLine {

inline constexpr std::string_view ready = "Ready — no session running";
inline constexpr std::string_view recoveryPending = "Recovery pending — use Restore normal sleep";
inline constexpr std::string_view waitingForAuthorization = platformWords::waitingForAuthorization;
inline constexpr std::string_view notStarted = "Session not started";
inline constexpr std::string_view checking = "Starting — checking sleep setting…";
inline constexpr std::string_view active = "Active — ready to close lid";
inline constexpr std::string_view restoring = "Restoring normal sleep…";
inline constexpr std::string_view stopRequestFailed =
    "Stop request failed — use Restore normal sleep";
inline constexpr std::string_view needsAttention = "Restoration needs attention";
inline constexpr std::string_view restored = "Ready — normal sleep restored";

} // namespace vesperon::StatusLine
