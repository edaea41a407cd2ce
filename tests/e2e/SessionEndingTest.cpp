// Every way a session ends: the watcher restores normal sleep, removes the root
// state and the job file and unloads itself.
#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <thread>

#include "SessionFixture.hpp"

namespace vesperon::e2e {
namespace {

using SessionEnds = SessionFixture;

TEST_F(SessionEnds, AtTheNextPollAfterTheStopFileAppears) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    app.createStopFile();
    const double off = secondsUntilOverrideOff(4);
    EXPECT_GE(off, 0);
    EXPECT_LE(off, 3.0 + slack);
    expectRestoredWithin(3);
    EXPECT_EQ(machine.jobsLog(), "");
}

TEST_F(SessionEnds, WithinThreeSecondsOfTheAppBeingKilled) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    app.kill();
    const double off = secondsUntilOverrideOff(5);
    EXPECT_GE(off, 0);
    EXPECT_LE(off, 3.0 + slack);
    expectRestoredWithin(3);
}

TEST_F(SessionEnds, TwentyToTwentyThreeSecondsAfterTheLastHeartbeat) {
    FakeApp app(machine, false); // alive, but renews nothing: a hung app
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    app.touchHeartbeat();
    const double renewed = steadySeconds();
    ASSERT_TRUE(waitUntil([&] { return !overrideOn(); }, 26 + slack)) << machine.jobsLog();
    const double age = steadySeconds() - renewed;
    EXPECT_GE(age, 20.0);
    EXPECT_LE(age, 23.0 + slack);
    expectRestoredWithin(3);
}

TEST_F(SessionEnds, WhenItsTimeIsUsedUp) {
    FakeApp app(machine, true);
    const double started = steadySeconds();
    ASSERT_NO_FATAL_FAILURE(startSession(app, 30));
    ASSERT_TRUE(waitUntil([&] { return !overrideOn(); }, 36 + slack)) << machine.jobsLog();
    const double lasted = steadySeconds() - started;
    EXPECT_GE(lasted, 30.0);
    EXPECT_LE(lasted, 33.5 + slack);
    expectRestoredWithin(3);
}

TEST_F(SessionEnds, WhenItsTimeIsUsedUpWhileTheMachineSlept) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app, 600));
    ASSERT_EQ(machine.sandbox({"sleep", "300"}).status, 0);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_TRUE(overrideOn()); // half the time asleep: the session goes on
    ASSERT_EQ(machine.sandbox({"sleep", "301"}).status, 0);
    const double off = secondsUntilOverrideOff(4);
    EXPECT_GE(off, 0);
    EXPECT_LE(off, 3.0 + slack);
    expectRestoredWithin(3);
}

TEST_F(SessionEnds, AtBootAfterARebootWithoutTheApp) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    const auto startsBefore = machine.jobStarts().size();
    ASSERT_EQ(machine.sandbox({"reboot"}).status, 0);
    // The app is still "running" and renewing: only the new boot ends the session.
    expectRestoredWithin(5);
    EXPECT_EQ(machine.jobStarts().size(), startsBefore + 1);
}

TEST_F(SessionEnds, AtTheNextPollAfterTheRecordIsEdited) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app, 600));
    // Someone tries to extend the session.
    auto record = nlohmann::json::parse(readFile(machine.recordPath()));
    record["timing"]["duration"] = 86400;
    writeFile(machine.recordPath(), record.dump());
    const double off = secondsUntilOverrideOff(4);
    EXPECT_GE(off, 0);
    EXPECT_LE(off, 3.0 + slack);
    expectRestoredWithin(3);
}

TEST_F(SessionEnds, AtTheNextPollWhenTheBatteryReachesFifteenPercent) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    ASSERT_EQ(machine.sandbox({"battery", "16", "battery"}).status, 0);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_TRUE(overrideOn());
    ASSERT_EQ(machine.sandbox({"battery", "15", "ac"}).status, 0); // on the charger: safe
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_TRUE(overrideOn());
    ASSERT_EQ(machine.sandbox({"battery", "15", "battery"}).status, 0);
    const double off = secondsUntilOverrideOff(4);
    EXPECT_GE(off, 0);
    EXPECT_LE(off, 3.0 + slack);
    expectRestoredWithin(3);
}

TEST_F(SessionEnds, AtTheNextPollWhenTheMachineGetsHot) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    ASSERT_EQ(machine.sandbox({"thermal", "1"}).status, 0);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_TRUE(overrideOn());
    ASSERT_EQ(machine.sandbox({"thermal", "2"}).status, 0);
    const double off = secondsUntilOverrideOff(4);
    EXPECT_GE(off, 0);
    EXPECT_LE(off, 3.0 + slack);
    expectRestoredWithin(3);
}

} // namespace
} // namespace vesperon::e2e
