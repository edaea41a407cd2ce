#include <gtest/gtest.h>

#include "FixtureTree.hpp"
#include "platform/linux/ThermalZones.hpp"

namespace vesperon {
namespace {

class ThermalZones : public ::testing::Test {
  protected:
    void zone(const std::string& name, int milliCelsius) const {
        tree.attribute(name + "/temp", std::to_string(milliCelsius));
    }
    void trip(const std::string& name, int index, const std::string& type, int milliCelsius) const {
        const std::string prefix = name + "/trip_point_" + std::to_string(index);
        tree.attribute(prefix + "_type", type);
        tree.attribute(prefix + "_temp", std::to_string(milliCelsius));
    }
    int state() const { return platform::thermalStateIn(tree.root()); }

    testing::FixtureTree tree;
};

TEST_F(ThermalZones, NoZonesOrZonesWithoutTripsAreNominal) {
    EXPECT_EQ(platform::thermalStateIn(tree.root() + "/absent"), 0);
    EXPECT_EQ(state(), 0);
    zone("thermal_zone0", 99000);
    EXPECT_EQ(state(), 0);
}

TEST_F(ThermalZones, TheStepsAgainstACriticalTrip) {
    zone("thermal_zone0", 70000);
    trip("thermal_zone0", 0, "critical", 100000);
    EXPECT_EQ(state(), 0);
    zone("thermal_zone0", 75000);
    EXPECT_EQ(state(), 1);
    zone("thermal_zone0", 85000);
    EXPECT_EQ(state(), 2);
    zone("thermal_zone0", 95000);
    EXPECT_EQ(state(), 3);
}

TEST_F(ThermalZones, PassiveActiveAndHotTrips) {
    zone("thermal_zone0", 50000);
    trip("thermal_zone0", 0, "active", 60000);
    trip("thermal_zone0", 1, "passive", 80000);
    trip("thermal_zone0", 2, "hot", 90000);
    trip("thermal_zone0", 3, "active", 45000); // the lowest active trip counts
    EXPECT_EQ(state(), 1);
    zone("thermal_zone0", 80000);
    EXPECT_EQ(state(), 2);
    zone("thermal_zone0", 90000);
    EXPECT_EQ(state(), 3);
}

TEST_F(ThermalZones, TheHottestZoneDecides) {
    zone("thermal_zone0", 40000);
    trip("thermal_zone0", 0, "passive", 90000);
    zone("thermal_zone1", 86000);
    trip("thermal_zone1", 0, "passive", 85000);
    tree.attribute("cooling_device0/cur_state", "3");
    EXPECT_EQ(state(), 2);
    tree.attribute("thermal_zone1/mode", "disabled");
    EXPECT_EQ(state(), 0);
}

TEST_F(ThermalZones, BogusTripsAndReadingsAreIgnored) {
    // x86_pkg_temp reports a passive trip at 0 °C; some firmware a critical one at 255 °C
    // or at -273 °C.
    zone("thermal_zone0", 45000);
    trip("thermal_zone0", 0, "passive", 0);
    trip("thermal_zone0", 1, "critical", 255000);
    trip("thermal_zone0", 2, "critical", -273200);
    trip("thermal_zone0", 3, "hot", 19999);
    EXPECT_EQ(state(), 0);
    zone("thermal_zone1", 1000000); // a sensor reading of 1000 °C is a broken sensor
    trip("thermal_zone1", 0, "critical", 90000);
    EXPECT_EQ(state(), 0);
    zone("thermal_zone1", 88000);
    EXPECT_EQ(state(), 3);
}

} // namespace
} // namespace vesperon
