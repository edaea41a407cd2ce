#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace vesperon {

// Read-only questions about the machine. None needs root rights, none prints, and
// every failure of the underlying reading gives the neutral answer (nothing or false).

// Whether the system-wide sleep override is on, from the power tool's "-g" output;
// nothing when the tool fails or prints no "SleepDisabled" value.
std::optional<bool> sleepDisabled();
// The rule applied to the power tool's output: the first line whose first field is
// exactly "SleepDisabled" and which has a value decides; the value "1" means on.
std::optional<bool> parseSleepDisabled(std::string_view output);

// Whether the internal battery may carry a session: on mains power, or above 15 %.
bool batterySafe();
// The rule applied to the power-source descriptions (an array of objects).
bool batterySafeFrom(const std::optional<nlohmann::json>& descriptions);

// Whether the lid is closed; false when the machine reports no lid state.
bool lidClosed();
bool lidClosedFrom(const std::optional<nlohmann::json>& clamshellState);

// The identifier of this boot; nothing when it cannot be read or is empty.
std::optional<std::string> currentBootID();
// The rule applied to the raw value: fewer than two bytes is unreadable, the text
// ends at the first NUL.
std::optional<std::string> bootIDFromBytes(const std::optional<std::string>& bytes);

// The thermal state: 0 nominal, 1 fair, 2 serious, 3 critical.
int thermalState();
// Serious or worse ends a session and refuses to start one.
constexpr int seriousThermalState = 2;

} // namespace vesperon
