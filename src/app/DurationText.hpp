#pragma once

#include <string>

namespace vesperon {

// The panel's clock: minutes rounded up; "5m", "59m", "1h", "1h 30m", "24h".
// Negative and fractional seconds round up to whole seconds first, never below 0.
std::string clockText(double seconds);

// A quick duration button's title: "5m" under an hour, else whole hours "4h".
std::string quickDurationTitle(int seconds);

// The title beside the status item's icon while a session is active: a leading
// blank, then the remaining minutes (rounded up, at least 1) as "45m", "2h", "1h 5m".
std::string statusItemTitle(double remainingSeconds);

} // namespace vesperon
