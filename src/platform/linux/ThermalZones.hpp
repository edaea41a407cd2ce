#pragma once

#include <string>

namespace vesperon::platform {

// The thermal state (0 nominal, 1 fair, 2 serious, 3 critical) of the hottest zone in
// a sysfs thermal folder. Each enabled zone is judged against its own trip points:
//
// - 3 critical: at or above its "hot" trip, or within 5 °C of its "critical" trip;
// - 2 serious: at or above its lowest "passive" trip (the kernel throttles there),
//   or within 15 °C of its "critical" trip;
// - 1 fair: at or above its lowest "active" trip (fans run), or within 25 °C of its
//   "critical" trip;
// - 0 nominal otherwise.
//
// Firmware often reports trips that mean nothing (0, negative, or absurdly high):
// trips outside 20–150 °C are ignored, as are zone temperatures outside -50–200 °C.
// A zone without usable trips, and a machine without zones, read as nominal.
int thermalStateIn(const std::string& thermalDir);

} // namespace vesperon::platform
