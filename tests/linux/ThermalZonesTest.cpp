#include <gtest/gtest.h>

#include "FixtureTree.hpp"
#include "platform/linux/ThermalZones.hpp"

namespace vesperon {
namespace {

using testing::Files;
using testing::operator+;

Files zone(const std::string& name, int milliCelsius, const Files& trips = {}) {
    Files files{name + "/temp=" + std::to_string(milliCelsius)};
    for (std::size_t i = 0; i < trips.size(); ++i) {
        const std::size_t colon = trips[i].find(':');
        const std::string prefix = name + "/trip_point_" + std::to_string(i);
        files.push_back(prefix + "_type=" + trips[i].substr(0, colon));
        files.push_back(prefix + "_temp=" + trips[i].substr(colon + 1));
    }
    return files;
}

TEST(ThermalZones, StateFromTheHottestZoneAgainstItsTrips) {
    const Files mixed = {"active:60000", "passive:80000", "hot:90000", "active:45000"};
    // x86_pkg_temp reports a passive trip at 0 °C; some firmware a critical one at
    // 255 °C or at -273 °C; a reading of 1000 °C is a broken sensor.
    const Files bogus = zone("thermal_zone0", 45000,
                             {"passive:0", "critical:255000", "critical:-273200", "hot:19999"});
    const std::vector<std::tuple<const char*, Files, int>> cases = {
        {"no zones", {}, 0},
        {"no trips", zone("thermal_zone0", 99000), 0},
        {"far below critical", zone("thermal_zone0", 70000, {"critical:100000"}), 0},
        {"warm", zone("thermal_zone0", 75000, {"critical:100000"}), 1},
        {"hot", zone("thermal_zone0", 85000, {"critical:100000"}), 2},
        {"near critical", zone("thermal_zone0", 95000, {"critical:100000"}), 3},
        {"past the lowest active trip", zone("thermal_zone0", 50000, mixed), 1},
        {"at the passive trip", zone("thermal_zone0", 80000, mixed), 2},
        {"at the hot trip", zone("thermal_zone0", 90000, mixed), 3},
        {"the hottest zone decides",
         zone("thermal_zone0", 40000, {"passive:90000"}) +
             zone("thermal_zone1", 86000, {"passive:85000"}) + Files{"cooling_device0/cur_state=3"},
         2},
        {"a disabled zone does not count",
         zone("thermal_zone0", 40000, {"passive:90000"}) +
             zone("thermal_zone1", 86000, {"passive:85000"}) + Files{"thermal_zone1/mode=disabled"},
         0},
        {"bogus trips", bogus, 0},
        {"broken sensor", bogus + zone("thermal_zone1", 1000000, {"critical:90000"}), 0},
        {"sound sensor", bogus + zone("thermal_zone1", 88000, {"critical:90000"}), 3},
    };
    for (const auto& [name, files, state] : cases) {
        const testing::FixtureTree tree(files);
        EXPECT_EQ(platform::thermalStateIn(tree.root()), state) << name;
    }
    EXPECT_EQ(platform::thermalStateIn("/nonexistent/thermal"), 0);
}

} // namespace
} // namespace vesperon
