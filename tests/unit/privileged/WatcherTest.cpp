#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

#include "ChildProcess.hpp"
#include "FakeMachine.hpp"

namespace vesperon {
namespace {

using test::ChildOutcome;

constexpr const char* missingRecord =
    "Missing or invalid recovery state; restoring normal sleep.\n";

void pause(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// The real executable in its "--watch" mode on a fake machine whose job is loaded.
class WatcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        session = test::healthySession(machine, folder.path());
        machine.installSession(session);
        machine.setJobLoaded(true);
    }
    test::ChildOptions watcher() const {
        return {{VESPERON_EXECUTABLE_PATH, "--watch"}, machine.environment(), {}};
    }
    // Sleep is back, the files are gone and the job is unloaded.
    void expectEnded(const ChildOutcome& outcome) const {
        EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
        EXPECT_EQ(outcome.out, "");
        EXPECT_FALSE(machine.overrideOn());
        EXPECT_FALSE(machine.rootStatePresent());
        EXPECT_FALSE(machine.jobFilePresent());
        EXPECT_FALSE(machine.jobLoaded());
    }
    std::size_t count(const std::vector<std::string>& calls, const std::string& call) const {
        return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
    }

    test::FakeMachine machine;
    test::TemporaryFolder folder;
    Session session;
};

TEST_F(WatcherTest, AnUnhealthySessionAtStartIsEndedWithoutSwitchingOn) {
    test::writeFile(session.stop, "");
    const ChildOutcome outcome = test::runChild(watcher());
    expectEnded(outcome);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(machine.pmsetCalls(), (std::vector<std::string>{"-a disablesleep 0", "-g"}));
}

TEST_F(WatcherTest, AMissingOrInvalidRecordRestoresSleepAtOnce) {
    const std::string recordPath = machine.layout().sessionRecordPath();
    const std::vector<std::string> badRecords = {
        "", "{\"pid\":1}", std::string(200000, ' ') + "{}",
        std::string(100000, '[') + std::string(100000, ']'), "\x8f\x01\xff\xfe garbage"};
    for (const std::string& bad : badRecords) {
        machine.installSession(session);
        machine.setJobLoaded(true);
        machine.setOverride(true);
        test::writeFile(recordPath, bad);
        const ChildOutcome outcome = test::runChild(watcher());
        EXPECT_EQ(outcome.err, missingRecord);
        expectEnded(outcome);
    }
    // And when the root state is already gone (an earlier clean-up could not unload).
    machine.setJobLoaded(true);
    const ChildOutcome outcome = test::runChild(watcher());
    EXPECT_EQ(outcome.err, missingRecord);
    expectEnded(outcome);
}

TEST_F(WatcherTest, ARestoreThatKeepsFailingLeavesEverythingForTheNextStart) {
    test::writeFile(session.stop, "");
    machine.setOverride(true);
    machine.failPower(1000);
    const ChildOutcome outcome = test::runChild(watcher());
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.err, "Could not restore normal sleep; recovery will retry.\n");
    EXPECT_TRUE(machine.rootStatePresent());
    EXPECT_TRUE(machine.jobFilePresent());
    EXPECT_TRUE(machine.jobLoaded());

    // The next start, with the tool working again, finishes the job.
    machine.failPower(0);
    expectEnded(test::runChild(watcher()));
}

TEST_F(WatcherTest, FailingToSwitchOnExitsForARetry) {
    machine.failPower(1);
    const ChildOutcome outcome = test::runChild(watcher());
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.err, "");
    EXPECT_TRUE(machine.rootStatePresent());
    EXPECT_TRUE(machine.jobLoaded());
    EXPECT_FALSE(machine.overrideOn());
}

TEST_F(WatcherTest, HoldsTheSessionNudgesTheDisplayAtEachLidClosingAndEndsOnStop) {
    test::ChildProcess running(watcher());
    const auto keepHeartbeat = [&] { test::writeFile(session.heartbeat, ""); };
    for (int i = 0; i < 10 && !machine.overrideOn(); ++i) {
        pause(0.1);
    }
    ASSERT_TRUE(machine.overrideOn());
    const auto switchedOn = machine.pmsetCalls();
    EXPECT_EQ(switchedOn, std::vector<std::string>{"-a disablesleep 1"});

    pause(4.5); // two healthy polls or more: no process started
    keepHeartbeat();
    EXPECT_EQ(machine.pmsetCalls(), switchedOn);
    EXPECT_TRUE(machine.launchctlCalls().empty());

    machine.setLid(true);
    pause(2.5);
    EXPECT_EQ(count(machine.pmsetCalls(), "displaysleepnow"), 1u);
    pause(2.5); // still closed: no second nudge
    keepHeartbeat();
    EXPECT_EQ(count(machine.pmsetCalls(), "displaysleepnow"), 1u);
    machine.setLid(false);
    pause(2.5);
    machine.setLid(true);
    pause(2.5);
    keepHeartbeat();
    EXPECT_EQ(count(machine.pmsetCalls(), "displaysleepnow"), 2u);

    test::writeFile(session.stop, "");
    const double stopped = test::monotonicSeconds();
    const ChildOutcome outcome = running.wait(10);
    EXPECT_LT(test::monotonicSeconds() - stopped, 2.6); // the next poll
    EXPECT_EQ(outcome.err, "");
    expectEnded(outcome);
}

TEST_F(WatcherTest, TheApplicationsDeathEndsTheSessionAtTheNextPoll) {
    test::ChildProcess application({{"/bin/sleep", "60"}, {}, {}});
    session.pid = application.pid();
    machine.installSession(session);
    test::ChildProcess running(watcher());
    pause(1.0);
    ASSERT_TRUE(machine.overrideOn());
    ::kill(application.pid(), SIGKILL);
    application.wait();
    const double killed = test::monotonicSeconds();
    const ChildOutcome outcome = running.wait(10);
    EXPECT_LT(test::monotonicSeconds() - killed, 2.6);
    expectEnded(outcome);
}

} // namespace
} // namespace vesperon
