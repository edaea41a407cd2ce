#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesperon {

// What "--setup PID SECONDS HEARTBEAT STOP" asks for, once its arguments are valid.
struct SetupRequest {
    std::int32_t pid = 0;
    double seconds = 0;
    std::string heartbeatPath;
    std::string stopPath;

    // Validates the whole argument list (index 0 the executable, index 1 "--setup"),
    // in order: six arguments; a pid of at least 2; seconds from 30 to 86,400; two
    // absolute paths. Nothing when any test fails.
    static std::optional<SetupRequest> parse(const std::vector<std::string>& args);
};

// A signed 32-bit decimal integer: an optional '-', digits, nothing else.
std::optional<std::int32_t> parseDecimalInt32(std::string_view text);

// A floating-point number that is the whole text (no leading blank, no trailing junk).
std::optional<double> parseWholeNumber(std::string_view text);

} // namespace vesperon
