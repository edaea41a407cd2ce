#include <gtest/gtest.h>

#include "ProcessMachine.hpp"
#include "platform/SystemProbes.hpp"

namespace vesperon {
namespace {

using nlohmann::json;

TEST(ParseSleepDisabled, ReadsTheValueOfTheSleepDisabledLine) {
    const std::string header = "System-wide power settings:\n";
    EXPECT_EQ(parseSleepDisabled(header + " SleepDisabled\t\t1\n"), true);
    EXPECT_EQ(parseSleepDisabled(header + " SleepDisabled\t\t0\n"), false);
    EXPECT_EQ(parseSleepDisabled(header + " SleepDisabled\t\t2\n"), false);
    EXPECT_EQ(parseSleepDisabled(" SleepDisabled 1 extra"), true);
    EXPECT_EQ(parseSleepDisabled("SleepDisabled\t1"), true); // no final line break
}

TEST(ParseSleepDisabled, NothingWithoutAUsableLine) {
    EXPECT_EQ(parseSleepDisabled(""), std::nullopt);
    EXPECT_EQ(parseSleepDisabled("System-wide power settings:\n standby 1\n"), std::nullopt);
    EXPECT_EQ(parseSleepDisabled(" SleepDisabled\n"), std::nullopt);
    // The name must be the whole first field, in its exact case.
    EXPECT_EQ(parseSleepDisabled(" SleepDisabledX 1\n sleepdisabled 1\n"), std::nullopt);
    EXPECT_EQ(parseSleepDisabled(" disablesleep SleepDisabled 1\n"), std::nullopt);
}

TEST(ParseSleepDisabled, ALineWithoutValueIsSkippedAndTheFirstValueWins) {
    EXPECT_EQ(parseSleepDisabled(" SleepDisabled\n SleepDisabled 1\n SleepDisabled 0\n"), true);
}

TEST(ParseSleepDisabled, SplitsAtEveryKindOfLineBreak) {
    // A value on the next "line" after any separator is not the value of the name.
    for (const std::string separator :
         {"\n", "\r", "\r\n", "\v", "\f", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
        SCOPED_TRACE(::testing::PrintToString(separator));
        EXPECT_EQ(parseSleepDisabled("SleepDisabled" + separator + "1"), std::nullopt);
        EXPECT_EQ(parseSleepDisabled("x" + separator + "SleepDisabled 1" + separator), true);
    }
}

TEST(ParseSleepDisabled, FieldsAreSeparatedByAnyRunOfBlanks) {
    EXPECT_EQ(parseSleepDisabled("SleepDisabled \t \t1"), true);
    EXPECT_EQ(parseSleepDisabled("SleepDisabled\xC2\xA0"
                                 "1"),
              true); // no-break space
    EXPECT_EQ(parseSleepDisabled("SleepDisabled\xE3\x80\x80"
                                 "1"),
              true); // ideographic space
    // A byte that is not UTF-8 is an ordinary character of a field.
    EXPECT_EQ(parseSleepDisabled("SleepDisabled 1\xFF"), false);
}

json battery(const std::string& state, const json& current, const json& maximum) {
    return json{{"Type", "InternalBattery"},
                {"Power Source State", state},
                {"Current Capacity", current},
                {"Max Capacity", maximum}};
}

TEST(BatterySafe, OnBatteryTheChargeMustBeAboveFifteenPercent) {
    EXPECT_TRUE(batterySafeFrom(json::array({battery("Battery Power", 16, 100)})));
    EXPECT_FALSE(batterySafeFrom(json::array({battery("Battery Power", 15, 100)})));
    EXPECT_FALSE(batterySafeFrom(json::array({battery("Battery Power", 3, 20)}))); // 15 %
    EXPECT_TRUE(batterySafeFrom(json::array({battery("Battery Power", 4, 20)})));
    EXPECT_TRUE(batterySafeFrom(json::array({battery("Battery Power", 5000, 4000)})));
}

TEST(BatterySafe, OnMainsPowerAnyChargeIsSafe) {
    EXPECT_TRUE(batterySafeFrom(json::array({battery("AC Power", 1, 100)})));
    EXPECT_TRUE(batterySafeFrom(json::array({battery("AC Power", 0, 0)})));
    EXPECT_TRUE(batterySafeFrom(
        json::array({json{{"Type", "InternalBattery"}, {"Power Source State", "AC Power"}}})));
}

TEST(BatterySafe, CapacitiesMustBeIntegersWithAPositiveMaximum) {
    EXPECT_FALSE(batterySafeFrom(json::array({battery("Battery Power", 50, 0)})));
    EXPECT_FALSE(batterySafeFrom(json::array({battery("Battery Power", 50, -100)})));
    EXPECT_FALSE(batterySafeFrom(json::array({battery("Battery Power", 50.0, 100)})));
    EXPECT_FALSE(batterySafeFrom(json::array({battery("Battery Power", "50", 100)})));
    EXPECT_FALSE(batterySafeFrom(json::array({battery("Battery Power", true, 100)})));
    EXPECT_FALSE(batterySafeFrom(json::array({battery("Battery Power", -50, 100)})));
    EXPECT_FALSE(batterySafeFrom(json::array(
        {battery("Battery Power", 50, 18446744073709551615ULL)}))); // beyond 64-bit signed
    EXPECT_FALSE(batterySafeFrom(
        json::array({json{{"Type", "InternalBattery"}, {"Power Source State", "Battery Power"}}})));
}

TEST(BatterySafe, TheFirstInternalBatteryIsTheBattery) {
    const json ups = {{"Type", "UPS"},
                      {"Power Source State", "AC Power"},
                      {"Current Capacity", 100},
                      {"Max Capacity", 100}};
    EXPECT_TRUE(batterySafeFrom(json::array({ups, battery("Battery Power", 50, 100)})));
    // The UPS on mains power does not make a low battery safe.
    EXPECT_FALSE(batterySafeFrom(json::array({ups, battery("Battery Power", 10, 100)})));
    // Entries that are no description are skipped; a later battery is not looked at.
    EXPECT_TRUE(batterySafeFrom(json::array(
        {42, nullptr, battery("Battery Power", 90, 100), battery("Battery Power", 1, 100)})));
    EXPECT_FALSE(batterySafeFrom(
        json::array({battery("Battery Power", 1, 100), battery("Battery Power", 90, 100)})));
}

TEST(BatterySafe, NoBatteryOrNoInformationIsNeverSafe) {
    EXPECT_FALSE(batterySafeFrom(std::nullopt));
    EXPECT_FALSE(batterySafeFrom(json::array()));
    EXPECT_FALSE(batterySafeFrom(json::object()));
    EXPECT_FALSE(
        batterySafeFrom(json::array({json{{"Type", "UPS"}, {"Power Source State", "AC Power"}}})));
    EXPECT_FALSE(
        batterySafeFrom(json::array({json{{"Type", 1}, {"Power Source State", "AC Power"}}})));
}

TEST(LidClosed, OnlyABooleanTrueMeansClosed) {
    EXPECT_TRUE(lidClosedFrom(json(true)));
    EXPECT_FALSE(lidClosedFrom(json(false)));
    EXPECT_FALSE(lidClosedFrom(std::nullopt)); // no root domain service
    EXPECT_FALSE(lidClosedFrom(json()));       // no property
    EXPECT_FALSE(lidClosedFrom(json(1)));
    EXPECT_FALSE(lidClosedFrom(json("true")));
}

TEST(BootID, TextUpToTheFirstNulAndNothingWhenEmpty) {
    EXPECT_EQ(bootIDFromBytes(std::string("ABC-123\0", 8)), "ABC-123");
    EXPECT_EQ(bootIDFromBytes(std::string("AB\0CD\0", 6)), "AB");
    EXPECT_EQ(bootIDFromBytes(std::string("AB")), "AB");
    EXPECT_EQ(bootIDFromBytes(std::string("\0", 1)), std::nullopt);   // size 1: only the NUL
    EXPECT_EQ(bootIDFromBytes(std::string("\0\0", 2)), std::nullopt); // empty text
    EXPECT_EQ(bootIDFromBytes(std::string()), std::nullopt);
    EXPECT_EQ(bootIDFromBytes(std::nullopt), std::nullopt);
}

// The probes read the machine through the platform seam and the power tool.
class Probes : public ::testing::Test {
  protected:
    void SetUp() override { machine.reset(); }
    test::FakeMachine& machine = test::processMachine();
};

TEST_F(Probes, ReadTheMachine) {
    machine.setOverride(true);
    machine.setBattery(16, 100, false);
    machine.setLid(true);
    machine.setThermal(3);
    machine.setBootID("BOOT-1");
    EXPECT_EQ(sleepDisabled(), true);
    EXPECT_TRUE(batterySafe());
    EXPECT_TRUE(lidClosed());
    EXPECT_EQ(thermalState(), 3);
    EXPECT_EQ(currentBootID(), "BOOT-1");

    machine.setOverride(false);
    machine.setBattery(15, 100, false);
    machine.setLid(false);
    machine.setThermal(0);
    EXPECT_EQ(sleepDisabled(), false);
    EXPECT_FALSE(batterySafe());
    EXPECT_FALSE(lidClosed());
    EXPECT_EQ(thermalState(), 0);
}

TEST_F(Probes, NeutralAnswersWhenReadingsAreMissing) {
    machine.failPower(1);
    EXPECT_EQ(sleepDisabled(), std::nullopt); // the tool failed
    machine.remove("power-sources.json");
    machine.remove("lid");
    machine.remove("boot-id");
    EXPECT_FALSE(batterySafe());
    EXPECT_FALSE(lidClosed());
    EXPECT_EQ(currentBootID(), std::nullopt);
    machine.setBootID("");
    EXPECT_EQ(currentBootID(), std::nullopt);
    ::unlink(machine.layout().pmsetPath.c_str());
    EXPECT_EQ(sleepDisabled(), std::nullopt); // the tool is missing
}

} // namespace
} // namespace vesperon
