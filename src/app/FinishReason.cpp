#include "app/FinishReason.hpp"

#include <array>
#include <cstddef>
#include <string_view>

namespace vesperon {
namespace {

// In the order of FinishReason; a failed task's text adds its status.
constexpr std::array<std::string_view, 14> reasonTexts{
    "Session ended",
    "Timer ended",
    "Battery protection",
    "Heat protection",
    "Agent work finished",
    "Protection ended session",
    "Session connection lost",
    "Start could not be verified",
    "Agent tracking could not start",
    "Task could not start",
    "Task completed",
    "Task failed (exit ",
    "Ended manually",
    "Ended by automation",
};
static_assert(reasonTexts.size() == static_cast<std::size_t>(FinishReason::EndedByAutomation) + 1);

} // namespace

Finish Finish::ofTask(int status) {
    if (status == 0) {
        return {FinishReason::TaskCompleted};
    }
    return {FinishReason::TaskFailed, status};
}

std::string Finish::text() const {
    std::string text(reasonTexts.at(static_cast<std::size_t>(reason)));
    if (reason == FinishReason::TaskFailed) {
        text += std::to_string(exitStatus) + ")";
    }
    return text;
}

} // namespace vesperon
