// Recovery when things go wrong: a power tool that will not switch the override off,
// and a session record that is not what setup wrote.
#include "SessionFixture.hpp"

namespace vesperon::e2e {
namespace {

using Recovery = SessionFixture;

TEST_F(Recovery, WatcherRetriesAFailedRestoreUntilItSucceeds) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    ASSERT_EQ(machine.sandbox({"fail-power", "1000000"}).status, 0);
    app.createStopFile();
    // The watcher gives up, exits 1 and is started again; three starts in all.
    ASSERT_TRUE(waitUntil([&] { return machine.jobStartTimes().size() >= 3; }, 25 + slack))
        << machine.jobsLog();
    const auto starts = machine.jobStartTimes();
    for (std::size_t i = 1; i < starts.size(); ++i) {
        EXPECT_GE(starts[i] - starts[i - 1], 5.0 - 0.01);
    }
    EXPECT_NE(machine.jobsLog().find("Could not restore normal sleep; recovery will retry.\n"),
              std::string::npos)
        << machine.jobsLog();
    const std::string state = machine.sandbox({"state"}).out;
    EXPECT_TRUE(
        state.starts_with("override: on\njob: loaded\njob-file: present\nroot-state: present\n"))
        << state;
    ASSERT_EQ(machine.sandbox({"fail-power", "0"}).status, 0);
    expectRestoredWithin(14);
}

// The next watcher reads a garbled or missing record at its start.
class BadRecord : public SessionFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(BadRecord, RestoresSleep) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    ASSERT_NO_FATAL_FAILURE(changeUnderEndedWatcher([&] {
        if (GetParam()) {
            writeFile(machine.recordPath(), "\xff{\"pid\":" + readFile(machine.recordPath()));
        } else {
            ::unlink(machine.recordPath().c_str());
        }
    }));
    expectRestoredWithin(12);
    EXPECT_NE(
        machine.jobsLog().find("Missing or invalid recovery state; restoring normal sleep.\n"),
        std::string::npos)
        << machine.jobsLog();
}

INSTANTIATE_TEST_SUITE_P(GarbledOrMissing, BadRecord, ::testing::Bool());

} // namespace
} // namespace vesperon::e2e
