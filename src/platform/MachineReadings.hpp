#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

// The raw readings of the machine that the probes interpret. Each platform
// implements these once (IOKit and sysctl on macOS, files under the machine
// folder in the sandbox); the rules that turn them into answers live with the
// probes, so they are the same everywhere.
namespace vesperon::platform {

// The power-source descriptions in the system's order: an array of objects with
// keys such as "Type", "Power Source State", "Current Capacity", "Max Capacity".
// Nothing when the power-source information cannot be had.
std::optional<nlohmann::json> powerSourceDescriptions();

// The power-management root domain's "AppleClamshellState" property: nothing when
// there is no root domain service, null when the property is missing, else its value.
std::optional<nlohmann::json> clamshellStateProperty();

// The raw bytes of the boot session identifier including its terminating NUL, as
// the kernel hands them out; nothing when the value cannot be read.
std::optional<std::string> bootSessionIdentifierBytes();

// The thermal state's raw value: 0 nominal, 1 fair, 2 serious, 3 critical.
int thermalState();

// Seconds on a monotonic clock that keeps counting while the system sleeps.
double continuousSeconds();

} // namespace vesperon::platform
