#include "platform/linux/ThermalZones.hpp"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/linux/KernelAttribute.hpp"

namespace vesperon::platform {
namespace {

// Millidegrees Celsius, as the kernel reports them.
constexpr std::int64_t lowestUsableTrip = 20'000;
constexpr std::int64_t highestUsableTrip = 150'000;
constexpr std::int64_t lowestUsableTemperature = -50'000;
constexpr std::int64_t highestUsableTemperature = 200'000;
constexpr std::int64_t criticalMargin = 5'000;
constexpr std::int64_t seriousMargin = 15'000;
constexpr std::int64_t fairMargin = 25'000;
// More trips than any zone has; the numbering is contiguous from 0.
constexpr int maxTrips = 64;

struct Trips {
    std::optional<std::int64_t> critical;
    std::optional<std::int64_t> hot;
    std::optional<std::int64_t> passive;
    std::optional<std::int64_t> active;
};

void keepLowest(std::optional<std::int64_t>& slot, std::int64_t value) {
    slot = slot ? std::min(*slot, value) : value;
}

Trips tripsOf(const std::string& zone) {
    Trips trips;
    for (int index = 0; index < maxTrips; ++index) {
        const std::string prefix = zone + "/trip_point_" + std::to_string(index);
        const auto type = readKernelAttribute(prefix + "_type");
        if (!type) {
            break;
        }
        const auto temperature = readKernelInteger(prefix + "_temp");
        if (!temperature || *temperature < lowestUsableTrip || *temperature > highestUsableTrip) {
            continue;
        }
        if (*type == "critical") {
            keepLowest(trips.critical, *temperature);
        } else if (*type == "hot") {
            keepLowest(trips.hot, *temperature);
        } else if (*type == "passive") {
            keepLowest(trips.passive, *temperature);
        } else if (*type == "active") {
            keepLowest(trips.active, *temperature);
        }
    }
    return trips;
}

bool reached(std::int64_t temperature, const std::optional<std::int64_t>& trip,
             std::int64_t margin = 0) {
    return trip && temperature >= *trip - margin;
}

int zoneState(const std::string& zone) {
    if (readKernelAttribute(zone + "/mode") == "disabled") {
        return 0;
    }
    const auto temperature = readKernelInteger(zone + "/temp");
    if (!temperature || *temperature < lowestUsableTemperature ||
        *temperature > highestUsableTemperature) {
        return 0;
    }
    const Trips trips = tripsOf(zone);
    if (reached(*temperature, trips.hot) || reached(*temperature, trips.critical, criticalMargin)) {
        return 3;
    }
    if (reached(*temperature, trips.passive) ||
        reached(*temperature, trips.critical, seriousMargin)) {
        return 2;
    }
    if (reached(*temperature, trips.active) || reached(*temperature, trips.critical, fairMargin)) {
        return 1;
    }
    return 0;
}

} // namespace

int thermalStateIn(const std::string& thermalDir) {
    int state = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(thermalDir, error)) {
        if (entry.path().filename().string().starts_with("thermal_zone")) {
            state = std::max(state, zoneState(entry.path().string()));
        }
    }
    return state;
}

} // namespace vesperon::platform
