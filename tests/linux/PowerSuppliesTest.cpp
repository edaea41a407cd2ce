#include <gtest/gtest.h>

#include "FixtureTree.hpp"
#include "platform/SystemProbes.hpp"
#include "platform/linux/PowerSupplies.hpp"

namespace vesperon {
namespace {

using nlohmann::json;
using testing::Files;
using testing::operator+;

Files battery(const std::string& name, const std::string& capacity) {
    return {name + "/type=Battery", name + "/capacity=" + capacity};
}
Files energy(const std::string& name, const std::string& now, const std::string& full) {
    return {name + "/type=Battery", name + "/energy_now=" + now, name + "/energy_full=" + full};
}
Files charger(const std::string& name, const std::string& type, const std::string& online) {
    return {name + "/type=" + type, name + "/online=" + online};
}

TEST(PowerSupplies, BatteriesAndChargersAgainstTheCutoff) {
    const Files usb = charger("ucsi-source-psy-USBC000:001", "USB", "1");
    const Files device = battery("hidpp_battery_0", "90") + charger("hid-charger", "USB", "1") +
                         Files{"hidpp_battery_0/scope=Device", "hid-charger/scope=Device"};
    const Files broken = {"BAT0/type=Battery", "BAT0/capacity=lots", "BAT0/energy_now=5",
                          "BAT0/energy_full=0"};
    struct Case {
        const char* name;
        Files files;
        bool safe;
        json current = nullptr, max = nullptr;
    };
    const std::vector<Case> cases = {
        {"above the cutoff", battery("BAT0", "16"), true, 160, 1000},
        {"at the cutoff", battery("BAT0", "15"), false},
        {"chargers offline",
         battery("BAT0", "1") + charger("AC", "Mains", "0") + charger("usb", "USB", "0"), false},
        {"USB charger online", battery("BAT0", "1") + usb, true},
        {"mains online", battery("BAT0", "1") + charger("AC", "Mains", "1"), true},
        // 4 of 40 Wh is 10 %, though one battery alone holds 15 %.
        {"summed by energy",
         energy("BAT0", "1000000", "20000000") + energy("BAT1", "3000000", "20000000"), false,
         4000000, 40000000},
        {"summed above",
         energy("BAT0", "1000000", "20000000") + energy("BAT1", "6000000", "20000000"), true},
        // When one reports only charge, both are compared by charge.
        {"summed by charge",
         Files{"BAT0/type=Battery", "BAT0/energy_full=20000000", "BAT0/charge_now=500",
               "BAT0/charge_full=1000", "BAT1/charge_now=100", "BAT1/charge_full=3000"} +
             energy("BAT1", "3000000", "20000000"),
         false, 600, 4000},
        {"mixed readings averaged as fractions",
         battery("BAT0", "10") + energy("BAT1", "30", "100"), true, 400, 2000},
        {"device batteries only", device, false},
        {"device batteries and empty bays ignored",
         device + battery("BAT0", "10") + battery("BAT1", "0") +
             Files{"BAT0/scope=System", "BAT1/present=0"},
         false, 100, 1000},
        {"unreadable battery", broken, false},
        {"unreadable battery on mains", broken + charger("AC", "Mains", "1"), true},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const testing::FixtureTree tree(row.files);
        const json sources = platform::powerSourcesIn(tree.root());
        EXPECT_EQ(batterySafeFrom(sources), row.safe);
        if (!row.current.is_null()) {
            EXPECT_EQ(sources[0]["Current Capacity"], row.current);
            EXPECT_EQ(sources[0]["Max Capacity"], row.max);
        }
    }
    // A full charge of 0 is no reading: no capacity at all, rather than one over nothing.
    const testing::FixtureTree zeroFull(broken);
    EXPECT_FALSE(platform::powerSourcesIn(zeroFull.root())[0].contains("Max Capacity"));
    EXPECT_EQ(platform::powerSourcesIn("/nonexistent/power_supply"), json::array());
}

} // namespace
} // namespace vesperon
