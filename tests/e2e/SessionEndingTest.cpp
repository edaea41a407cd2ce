// Every way a session ends: the watcher restores normal sleep, removes the root state
// and the job file and unloads itself; and root modes ended by SIGKILL part-way still
// leave someone responsible for sleep.
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "SessionFixture.hpp"

namespace vesperon::e2e {
namespace {

using SessionEnds = SessionFixture;

// A session ends by a change to the machine (scripts/sandbox arguments) or by `cause`.
struct Ending {
    std::string name;
    std::vector<std::string> change;
    std::function<void(const SandboxedMachine&, FakeApp&)> cause = {};
};

const std::vector<Ending> endings = {
    {"StopFile", {}, [](const SandboxedMachine&, FakeApp& app) { app.createStopFile(); }},
    {"AppKilled", {}, [](const SandboxedMachine&, FakeApp& app) { app.kill(); }},
    {"RecordEdited", // someone tries to extend the session
     {},
     [](const SandboxedMachine& machine, FakeApp&) {
         auto record = nlohmann::json::parse(readFile(machine.recordPath()));
         record["timing"]["duration"] = 86400;
         writeFile(machine.recordPath(), record.dump());
     }},
    {"BatteryLow", {"battery", "15", "battery"}},
    {"Hot", {"thermal", "2"}},
    {"TimeUsedUpAsleep", {"sleep", "601"}},
    {"Reboot", {"reboot"}}, // the app still runs and renews: only the new boot ends it
};

void PrintTo(const Ending& ending, std::ostream* out) {
    *out << ending.name;
}

class SessionEndsAtTheNextPoll : public SessionFixture,
                                 public ::testing::WithParamInterface<Ending> {};

TEST_P(SessionEndsAtTheNextPoll, AndRestores) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app, 600));
    if (GetParam().cause) {
        GetParam().cause(machine, app);
    } else {
        ASSERT_EQ(machine.sandbox(GetParam().change).status, 0);
    }
    const double off = secondsUntilOverrideOff(3);
    EXPECT_GE(off, 0) << machine.jobsLog();
    EXPECT_LE(off, 3.0 + slack);
    expectRestoredWithin(3);
}

INSTANTIATE_TEST_SUITE_P(Causes, SessionEndsAtTheNextPoll, ::testing::ValuesIn(endings),
                         [](const ::testing::TestParamInfo<Ending>& row) {
                             return row.param.name;
                         });

TEST_F(SessionEnds, TwentyToTwentyThreeSecondsAfterTheLastHeartbeat) {
    FakeApp app(machine, false); // alive, but renews nothing: a hung app
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    app.touchHeartbeat();
    const double renewed = steadySeconds();
    ASSERT_TRUE(waitUntil([&] { return !overrideOn(); }, 26 + slack)) << machine.jobsLog();
    EXPECT_GE(steadySeconds() - renewed, 20.0);
    EXPECT_LE(steadySeconds() - renewed, 23.0 + slack);
    expectRestoredWithin(3);
}

TEST_F(SessionEnds, AKilledRestoreNeverLeavesTheOverrideOnWithoutAWatcher) {
    // A whole restore of a running session, timed to spread the kills over it.
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    const ProcessOutcome full = machine.vesperon({"--restore"});
    ASSERT_EQ(full.status, 0) << full.err;
    EXPECT_EQ(full.out, "RESTORED\n");
    ASSERT_TRUE(machine.restored());
    for (const double fraction : {0.05, 0.15, 0.3, 0.45, 0.6, 0.75, 0.9}) {
        SCOPED_TRACE(fraction);
        ASSERT_NO_FATAL_FAILURE(startSession(app));
        BackgroundProcess restore({"/usr/bin/env", "VESPERON_SANDBOX=" + machine.root(),
                                   VESPERON_EXECUTABLE, "--restore"});
        std::this_thread::sleep_for(std::chrono::duration<double>(full.seconds * fraction));
        restore.kill();
        if (pathExists(machine.recordPath())) {
            // Killed before it changed anything: the session is still its watcher's.
            EXPECT_EQ(machine.state()["job"], "loaded") << machine.sandbox({"state"}).out;
        } else {
            // The watcher, still loaded and finding no record, restores; or the restore
            // had got that far itself.
            EXPECT_TRUE(waitUntil([&] { return !overrideOn(); }, 15))
                << machine.sandbox({"state"}).out;
        }
        // Whatever is left, a second restore (the user's way out) clears it.
        EXPECT_EQ(machine.vesperon({"--restore"}).status, 0);
        ASSERT_TRUE(machine.restored()) << machine.sandbox({"state"}).out;
    }
}

TEST_F(SessionEnds, AWatcherKilledBeforeUnloadingItselfIsReportedAndDoesNotBlockTheNextSetup) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    ASSERT_NO_FATAL_FAILURE(changeUnderEndedWatcher([&] {
        ASSERT_EQ(machine.tool("/usr/bin/pmset", {"-a", "disablesleep", "0"}).status, 0);
        std::filesystem::remove_all(machine.rootDir());
        std::filesystem::remove(machine.jobPath());
    }));
    ASSERT_TRUE(waitUntil([&] { return machine.state()["job"] == "loaded"; }, 5));
    const ProcessOutcome diagnose = machine.vesperon({"--diagnose"});
    EXPECT_NE(diagnose.out.find("Recovery job exists: true\n"), std::string::npos) << diagnose.out;
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    app.createStopFile();
    expectRestoredWithin(8);
}

} // namespace
} // namespace vesperon::e2e
