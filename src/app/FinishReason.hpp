#pragma once

#include <string>
#include <string_view>

// Why a session is ending: the title of the session-ended notification and the first
// part of the outcome line.
namespace vesperon::FinishReason {

inline constexpr std::string_view sessionEnded = "Session ended";
inline constexpr std::string_view timerEnded = "Timer ended";
inline constexpr std::string_view battery = "Battery protection";
inline constexpr std::string_view heat = "Heat protection";
inline constexpr std::string_view agentWorkFinished = "Agent work finished";
inline constexpr std::string_view protectionEnded = "Protection ended session";
inline constexpr std::string_view connectionLost = "Session connection lost";
inline constexpr std::string_view startNotVerified = "Start could not be verified";
inline constexpr std::string_view agentTrackingFailed = "Agent tracking could not start";
inline constexpr std::string_view taskCouldNotStart = "Task could not start";
inline constexpr std::string_view taskCompleted = "Task completed";
inline constexpr std::string_view endedManually = "Ended manually";
inline constexpr std::string_view endedByAutomation = "Ended by automation";

// "Task completed" for status 0, else "Task failed (exit N)".
inline std::string taskFinished(int status) {
    if (status == 0) {
        return std::string(taskCompleted);
    }
    return "Task failed (exit " + std::to_string(status) + ")";
}

} // namespace vesperon::FinishReason

namespace vesperon::Outcome {

inline constexpr std::string_view sleepRestoredSuffix = " · sleep restored";
inline constexpr std::string_view sleepRestored = "Sleep restored";
inline constexpr std::string_view useRestore = "Use Restore normal sleep";
inline constexpr std::string_view shortcutUnavailable = "Session shortcut unavailable";

// The outcome line of a session that ended normally.
inline std::string ended(std::string_view reason) {
    return std::string(reason) + std::string(sleepRestoredSuffix);
}

} // namespace vesperon::Outcome
