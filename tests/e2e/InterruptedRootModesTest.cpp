// Root modes ended by SIGKILL part-way: whatever step they reached, someone stays
// responsible for sleep, and what they leave behind does not block the next session.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "SessionFixture.hpp"

namespace vesperon::e2e {
namespace {

using InterruptedRootModes = SessionFixture;

TEST_F(InterruptedRootModes, AKilledRestoreNeverLeavesTheOverrideOnWithoutAWatcher) {
    // How long a whole restore of a running session takes here, to spread the kills
    // over it.
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    const ProcessOutcome full = machine.vesperon({"--restore"});
    ASSERT_EQ(full.status, 0) << full.err;
    ASSERT_TRUE(machine.restored());

    for (const double fraction : {0.05, 0.15, 0.3, 0.45, 0.6, 0.75, 0.9}) {
        ASSERT_NO_FATAL_FAILURE(startSession(app));
        BackgroundProcess restore({"/usr/bin/env", "VESPERON_SANDBOX=" + machine.root(),
                                   VESPERON_EXECUTABLE, "--restore"});
        std::this_thread::sleep_for(std::chrono::duration<double>(full.seconds * fraction));
        restore.kill();
        if (pathExists(machine.recordPath())) {
            // Killed before it changed anything: the session is still its watcher's.
            EXPECT_EQ(machine.state()["job"], "loaded")
                << "killed at " << fraction << " of a restore: " << machine.sandbox({"state"}).out;
        } else {
            // The watcher, still loaded and finding no record, restores; or the restore
            // had got that far itself.
            EXPECT_TRUE(waitUntil([&] { return !overrideOn(); }, 15))
                << "killed at " << fraction << " of a restore: " << machine.sandbox({"state"}).out;
        }
        // Whatever is left, a second restore (the user's way out) clears it.
        const ProcessOutcome again = machine.vesperon({"--restore"});
        EXPECT_EQ(again.status, 0) << again.err;
        ASSERT_TRUE(machine.restored()) << machine.sandbox({"state"}).out;
    }
}

TEST_F(InterruptedRootModes, AStaleLoadedJobIsReportedAndDoesNotBlockTheNextSetup) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    // The watcher is ended after removing its files and before unloading itself.
    const int watcher = watcherPid();
    ASSERT_GT(watcher, 0);
    ASSERT_EQ(::kill(watcher, SIGSTOP), 0);
    ASSERT_EQ(machine.tool("/usr/bin/pmset", {"-a", "disablesleep", "0"}).status, 0);
    std::filesystem::remove_all(machine.rootDir());
    std::filesystem::remove(machine.jobPath());
    ASSERT_EQ(::kill(watcher, SIGKILL), 0);
    ASSERT_TRUE(waitUntil([&] { return machine.state()["job"] == "loaded"; }, 5));

    const ProcessOutcome diagnose = machine.vesperon({"--diagnose"});
    EXPECT_NE(diagnose.out.find("Recovery job exists: true\n"), std::string::npos) << diagnose.out;

    const ProcessOutcome setup = machine.vesperon(
        {"--setup", std::to_string(app.pid()), "3600", app.heartbeat(), app.stop()});
    ASSERT_EQ(setup.status, 0) << setup.err;
    EXPECT_EQ(setup.out, "READY\n");
    EXPECT_TRUE(waitUntil([&] { return overrideOn(); }, 8)) << machine.jobsLog();
    app.createStopFile();
    expectRestoredWithin(8);
}

} // namespace
} // namespace vesperon::e2e
