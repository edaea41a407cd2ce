#pragma once

#include <optional>

namespace vesperon {

// Whether the system-wide sleep override is on: on, off, or nothing when it cannot be
// read. Each platform reads it its own way (the power tool's "-g" output on macOS and
// the sandbox, logind's inhibitor locks on Linux).
std::optional<bool> readSleepOverride();

} // namespace vesperon
