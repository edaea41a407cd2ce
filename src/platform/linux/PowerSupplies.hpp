#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace vesperon::platform {

// The power supplies in a sysfs power_supply folder, described the way the shared
// battery rule reads power sources: an array that holds one "InternalBattery" entry
// when the machine has a system battery, and nothing else.
//
// - Only batteries whose scope is the system count (not a mouse's or a phone's: scope
//   "Device"), and only those present.
// - Several batteries are summed: by energy when every one reports energy_now and
//   energy_full, else by charge when every one reports charge_now and charge_full,
//   else by their charge fractions in thousandths (the pair, or capacity in percent).
// - "Power Source State" is "AC Power" when a system-scope Mains or USB supply is
//   online, "Battery Power" otherwise.
nlohmann::json powerSourcesIn(const std::string& powerSupplyDir);

} // namespace vesperon::platform
