#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "ChildProcess.hpp"
#include "ProcessMachine.hpp"
#include "privileged/SessionHealth.hpp"

namespace vesperon {
namespace {

// The health test against this process's own machine, with a record whose every test
// passes until the test at hand breaks one of them.
class SessionHealthTest : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.reset();
        session = test::healthySession(machine, folder.path());
        save();
    }
    void save() {
        machine.installSession(session);
        record = *loadSession(recordPath);
    }
    void setHeartbeatAge(double seconds) const {
        timeval now{};
        ::gettimeofday(&now, nullptr);
        const double stamp =
            static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_usec) / 1e6 - seconds;
        timeval times[2];
        for (timeval& time : times) {
            time.tv_sec = static_cast<time_t>(stamp);
            time.tv_usec =
                static_cast<suseconds_t>((stamp - static_cast<double>(time.tv_sec)) * 1e6);
        }
        ASSERT_EQ(::utimes(session.heartbeat.c_str(), times), 0);
    }
    SessionHealth check() const { return checkSessionHealth(record, recordPath); }

    test::FakeMachine& machine = test::processMachine();
    test::TemporaryFolder folder;
    std::string recordPath = machine.layout().sessionRecordPath();
    Session session;
    LoadedSession record;
};

TEST_F(SessionHealthTest, AHealthySessionStartsNoProcess) {
    EXPECT_EQ(check(), SessionHealth::Healthy);
    EXPECT_EQ(check(), SessionHealth::Healthy);
    EXPECT_TRUE(machine.pmsetCalls().empty());
    EXPECT_TRUE(machine.launchctlCalls().empty());
}

TEST_F(SessionHealthTest, TheRecordMustKeepItsBytes) {
    test::writeFile(recordPath, record.bytes + " ");
    EXPECT_EQ(check(), SessionHealth::RecordChanged);
    ::unlink(recordPath.c_str());
    EXPECT_EQ(check(), SessionHealth::RecordChanged);
    // Rewritten with the same bytes: still the same record.
    test::writeFile(recordPath, record.bytes);
    EXPECT_EQ(check(), SessionHealth::Healthy);
}

TEST_F(SessionHealthTest, TheRecordIsTestedFirst) {
    machine.setThermal(3);
    machine.setBattery(1, 100, false);
    test::writeFile(session.stop, "");
    test::writeFile(recordPath, "{}");
    EXPECT_EQ(check(), SessionHealth::RecordChanged);
}

TEST_F(SessionHealthTest, TimeUpWhenTheClockPassesTheEndAsleepOrAwake) {
    session.timing->started = machine.clock() - 0.5;
    session.timing->duration = 30;
    save();
    EXPECT_EQ(check(), SessionHealth::Healthy);
    machine.addSleep(29); // asleep most of the session: still some left
    EXPECT_EQ(check(), SessionHealth::Healthy);
    machine.addSleep(1); // the machine slept through the end
    EXPECT_EQ(check(), SessionHealth::TimeUp);
}

TEST_F(SessionHealthTest, TimeUpAfterARebootOrWithoutTiming) {
    machine.setBootID("ANOTHER-BOOT");
    EXPECT_EQ(check(), SessionHealth::TimeUp);
    machine.remove("boot-id");
    EXPECT_EQ(check(), SessionHealth::TimeUp);

    machine.reset();
    session.timing.reset();
    save();
    EXPECT_EQ(check(), SessionHealth::TimeUp);
}

TEST_F(SessionHealthTest, TheApplicationMustBeAlive) {
    test::ChildProcess application({{"/bin/sleep", "60"}, {}, {}});
    session.pid = application.pid();
    save();
    EXPECT_EQ(check(), SessionHealth::Healthy);
    ::kill(application.pid(), SIGKILL);
    application.wait();
    EXPECT_EQ(check(), SessionHealth::ApplicationGone);

    for (const std::int32_t pid : {0, -1, -static_cast<std::int32_t>(::getpgrp())}) {
        session.pid = pid; // ids that kill() would read as process groups
        save();
        EXPECT_EQ(check(), SessionHealth::ApplicationGone) << pid;
    }
}

TEST_F(SessionHealthTest, TheStopFileEndsTheSession) {
    test::writeFile(session.stop, "");
    EXPECT_EQ(check(), SessionHealth::StopRequested);
    ::unlink(session.stop.c_str());
    ::symlink("/nonexistent", session.stop.c_str()); // any entry at the path counts
    EXPECT_EQ(check(), SessionHealth::StopRequested);
}

TEST_F(SessionHealthTest, TheHeartbeatMustExistAndBeFresh) {
    setHeartbeatAge(19.5);
    EXPECT_EQ(check(), SessionHealth::Healthy);
    setHeartbeatAge(20.5);
    EXPECT_EQ(check(), SessionHealth::HeartbeatStale);
    setHeartbeatAge(-5); // dated in the future
    EXPECT_EQ(check(), SessionHealth::HeartbeatStale);
    ::unlink(session.heartbeat.c_str());
    EXPECT_EQ(check(), SessionHealth::HeartbeatUnreadable);
}

TEST_F(SessionHealthTest, TheBatteryMustCarryTheSession) {
    machine.setBattery(16, 100, false);
    EXPECT_EQ(check(), SessionHealth::Healthy);
    machine.setBattery(15, 100, false);
    EXPECT_EQ(check(), SessionHealth::BatteryUnsafe);
    machine.setBattery(1, 100, true);
    EXPECT_EQ(check(), SessionHealth::Healthy);
    machine.remove("power-sources.json");
    EXPECT_EQ(check(), SessionHealth::BatteryUnsafe);
}

TEST_F(SessionHealthTest, SeriousHeatEndsTheSessionLast) {
    machine.setThermal(1);
    EXPECT_EQ(check(), SessionHealth::Healthy);
    machine.setThermal(2);
    EXPECT_EQ(check(), SessionHealth::TooHot);
    machine.setThermal(3);
    EXPECT_EQ(check(), SessionHealth::TooHot);
    machine.setBattery(10, 100, false);
    EXPECT_EQ(check(), SessionHealth::BatteryUnsafe); // battery is tested before heat
}

} // namespace
} // namespace vesperon
