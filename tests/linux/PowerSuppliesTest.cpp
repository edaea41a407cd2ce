#include <gtest/gtest.h>

#include "FixtureTree.hpp"
#include "platform/SystemProbes.hpp"
#include "platform/linux/PowerSupplies.hpp"

namespace vesperon {
namespace {

using nlohmann::json;

class PowerSupplies : public ::testing::Test {
  protected:
    void battery(const std::string& name, const std::string& capacity) const {
        tree.attribute(name + "/type", "Battery");
        tree.attribute(name + "/capacity", capacity);
    }
    void charger(const std::string& name, const std::string& type,
                 const std::string& online) const {
        tree.attribute(name + "/type", type);
        tree.attribute(name + "/online", online);
    }
    json sources() const { return platform::powerSourcesIn(tree.root()); }
    bool safe() const { return batterySafeFrom(sources()); }

    testing::FixtureTree tree;
};

TEST_F(PowerSupplies, OneBatteryByCapacityAgainstTheCutoff) {
    battery("BAT0", "16");
    EXPECT_EQ(sources(), json::parse(R"([{"Type": "InternalBattery",
        "Power Source State": "Battery Power", "Current Capacity": 160, "Max Capacity": 1000}])"));
    EXPECT_TRUE(safe());
    battery("BAT0", "15");
    EXPECT_FALSE(safe());
}

TEST_F(PowerSupplies, AnOnlineMainsOrUsbChargerMeansMainsPower) {
    battery("BAT0", "1");
    charger("AC", "Mains", "0");
    charger("ucsi-source-psy-USBC000:001", "USB", "0");
    EXPECT_FALSE(safe());
    charger("ucsi-source-psy-USBC000:001", "USB", "1");
    EXPECT_EQ(sources()[0]["Power Source State"], "AC Power");
    EXPECT_TRUE(safe());
    charger("ucsi-source-psy-USBC000:001", "USB", "0");
    charger("AC", "Mains", "1");
    EXPECT_TRUE(safe());
}

TEST_F(PowerSupplies, SeveralBatteriesAreSummedByEnergyOrCharge) {
    tree.attribute("BAT0/type", "Battery");
    tree.attribute("BAT0/energy_now", "1000000");
    tree.attribute("BAT0/energy_full", "20000000");
    tree.attribute("BAT1/type", "Battery");
    tree.attribute("BAT1/energy_now", "3000000");
    tree.attribute("BAT1/energy_full", "20000000");
    // 4 of 40 Wh is 10 %, though one battery alone holds 15 %.
    EXPECT_EQ(sources()[0]["Current Capacity"], 4000000);
    EXPECT_EQ(sources()[0]["Max Capacity"], 40000000);
    EXPECT_FALSE(safe());
    tree.attribute("BAT1/energy_now", "6000000");
    EXPECT_TRUE(safe()); // 7 of 40

    // When one reports only charge, both are compared by charge.
    tree.attribute("BAT0/charge_now", "500");
    tree.attribute("BAT0/charge_full", "1000");
    tree.attribute("BAT1/charge_now", "100");
    tree.attribute("BAT1/charge_full", "3000");
    std::filesystem::remove(tree.root() + "/BAT0/energy_now");
    EXPECT_EQ(sources()[0]["Current Capacity"], 600);
    EXPECT_EQ(sources()[0]["Max Capacity"], 4000);
}

TEST_F(PowerSupplies, MixedReadingsAreAveragedAsFractions) {
    battery("BAT0", "10");
    tree.attribute("BAT1/type", "Battery");
    tree.attribute("BAT1/energy_now", "30");
    tree.attribute("BAT1/energy_full", "100");
    EXPECT_EQ(sources()[0]["Current Capacity"], 400);
    EXPECT_EQ(sources()[0]["Max Capacity"], 2000);
    EXPECT_TRUE(safe()); // 20 %
}

TEST_F(PowerSupplies, DeviceBatteriesAndEmptyBaysAreIgnored) {
    battery("hidpp_battery_0", "90");
    tree.attribute("hidpp_battery_0/scope", "Device");
    charger("hid-charger", "USB", "1");
    tree.attribute("hid-charger/scope", "Device");
    EXPECT_EQ(sources(), json::array()); // no system battery: the rule says not safe
    EXPECT_FALSE(safe());

    battery("BAT0", "50");
    tree.attribute("BAT0/scope", "System");
    battery("BAT1", "0");
    tree.attribute("BAT1/present", "0");
    EXPECT_EQ(sources()[0]["Current Capacity"], 500);
    EXPECT_EQ(sources()[0]["Max Capacity"], 1000);
    EXPECT_EQ(sources()[0]["Power Source State"], "Battery Power");
}

TEST_F(PowerSupplies, MissingOrBrokenFilesGiveTheNeutralAnswer) {
    EXPECT_EQ(platform::powerSourcesIn(tree.root() + "/absent"), json::array());
    tree.attribute("BAT0/type", "Battery");
    tree.attribute("BAT0/capacity", "lots");
    tree.attribute("BAT0/energy_now", "5");
    tree.attribute("BAT0/energy_full", "0");
    const json entry = sources()[0];
    EXPECT_FALSE(entry.contains("Current Capacity"));
    EXPECT_FALSE(safe());
    charger("AC", "Mains", "1");
    EXPECT_TRUE(safe()); // on mains power the charge does not matter
}

} // namespace
} // namespace vesperon
