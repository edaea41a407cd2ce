// Setting a session up and restoring by force, through the real executable running
// as root on a sandboxed machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "SessionFixture.hpp"
#include "common/Quoting.hpp"

namespace vesperon::e2e {
namespace {

constexpr const char* alreadyExists =
    "A sleep override or recovery job already exists. Use Restore normal sleep first.\n";

using SessionSetup = SessionFixture;

TEST_F(SessionSetup, PrintsReadyWithTheOverrideStillOffThenTheWatcherSwitchesItOn) {
    FakeApp app(machine, true);
    const ProcessOutcome setup = machine.vesperon(
        {"--setup", std::to_string(app.pid()), "3600", app.heartbeat(), app.stop()});
    // Setup does not switch the override on itself: the watcher waits for the lock
    // that setup holds until it exits.
    const bool onAtReady = overrideOn();
    ASSERT_EQ(setup.status, 0) << setup.err;
    EXPECT_EQ(setup.out, "READY\n");
    EXPECT_EQ(setup.err, "");
    EXPECT_FALSE(onAtReady);
    auto state = machine.state();
    EXPECT_EQ(state["job"], "loaded");
    EXPECT_EQ(state["job-file"], "present");
    EXPECT_EQ(state["root-state"], "present");
    EXPECT_TRUE(waitUntil([&] { return overrideOn(); }, 5 + slack)) << machine.jobsLog();
    EXPECT_NE(watcherPid(), 0);
}

TEST_F(SessionSetup, HealthyPollsStartNoProcess) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    // Ten seconds are five polls; a healthy poll must not run the power tool.
    const long long calls = machine.powerCalls();
    const auto startsBefore = machine.jobStarts().size();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    EXPECT_EQ(machine.powerCalls(), calls);
    EXPECT_TRUE(overrideOn());
    EXPECT_EQ(machine.jobStarts().size(), startsBefore);
    EXPECT_EQ(machine.jobsLog(), "");
}

TEST_F(SessionSetup, ClosingTheLidPutsTheDisplayToSleepOncePerClosing) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    ASSERT_EQ(machine.sandbox({"lid", "closed"}).status, 0);
    EXPECT_TRUE(waitUntil([&] { return machine.state()["display-sleeps"] == "1"; }, 4 + slack));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(machine.state()["display-sleeps"], "1"); // not again while it stays closed
    ASSERT_EQ(machine.sandbox({"lid", "open"}).status, 0);
    std::this_thread::sleep_for(std::chrono::duration<double>(2.5 + slack)); // a poll sees it open
    ASSERT_EQ(machine.sandbox({"lid", "closed"}).status, 0);
    EXPECT_TRUE(waitUntil([&] { return machine.state()["display-sleeps"] == "2"; }, 4 + slack));
    EXPECT_TRUE(overrideOn());
}

TEST_F(SessionSetup, IsRefusedWhileTheOverrideIsAlreadyOn) {
    ASSERT_EQ(machine.tool("/usr/bin/pmset", {"-a", "disablesleep", "1"}).status, 0);
    FakeApp app(machine, true);
    const ProcessOutcome setup = machine.vesperon(
        {"--setup", std::to_string(app.pid()), "3600", app.heartbeat(), app.stop()});
    EXPECT_EQ(setup.status, 1);
    EXPECT_EQ(setup.err, alreadyExists);
    EXPECT_EQ(setup.out, "");
    auto state = machine.state();
    EXPECT_EQ(state["override"], "on");
    EXPECT_EQ(state["job"], "absent");
    EXPECT_EQ(state["job-file"], "absent");
    EXPECT_EQ(state["root-state"], "absent");
}

TEST_F(SessionSetup, IsRefusedWhenThePowerToolCannotBeReadSayingSo) {
    constexpr const char* unreadable =
        "Setup failed: Could not read the sleep setting from the power tool.\n";
    FakeApp app(machine, true);
    ASSERT_EQ(machine.sandbox({"fail-power", "1"}).status, 0);
    ProcessOutcome setup = machine.vesperon(
        {"--setup", std::to_string(app.pid()), "3600", app.heartbeat(), app.stop()});
    EXPECT_EQ(setup.status, 1);
    EXPECT_EQ(setup.err, unreadable);
    EXPECT_TRUE(machine.restored());

    // A power tool that is not there at all reads the same.
    ASSERT_EQ(::unlink((machine.root() + "/usr/bin/pmset").c_str()), 0);
    setup = machine.vesperon(
        {"--setup", std::to_string(app.pid()), "3600", app.heartbeat(), app.stop()});
    EXPECT_EQ(setup.status, 1);
    EXPECT_EQ(setup.err, unreadable);
    EXPECT_EQ(machine.state()["root-state"], "absent");
}

TEST_F(SessionSetup, FailedBootstrapReportsLaunchctlAndKeepsFilesWhileTheJobIsUnconfirmed) {
    // Without its service manager the machine's launchctl can neither load the job nor
    // say that it is gone.
    const int manager = std::stoi(readFile(machine.machineFile("launchd.pid")));
    ASSERT_EQ(::kill(manager, SIGTERM), 0);
    ASSERT_TRUE(waitUntil([&] { return ::kill(manager, 0) != 0; }, 10));

    FakeApp app(machine, true);
    const ProcessOutcome setup = machine.vesperon(
        {"--setup", std::to_string(app.pid()), "3600", app.heartbeat(), app.stop()});
    EXPECT_EQ(setup.status, 1);
    EXPECT_EQ(setup.out, "");
    EXPECT_EQ(
        setup.err.rfind("Setup failed: launchctl bootstrap failed with status 1: launchctl: ", 0),
        0u)
        << setup.err;
    EXPECT_EQ(std::count(setup.err.begin(), setup.err.end(), '\n'), 1) << setup.err;
    // A job that may have started keeps the files to restore from; sleep was never off.
    EXPECT_TRUE(pathExists(machine.rootDir()));
    EXPECT_TRUE(pathExists(machine.jobPath()));
    EXPECT_FALSE(overrideOn());
}

TEST_F(SessionSetup, RejectsBadArgumentsSilently) {
    FakeApp app(machine, true);
    const std::string pid = std::to_string(app.pid());
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--setup", "1", "3600", app.heartbeat(), app.stop()},
             {"--setup", pid, "29.9", app.heartbeat(), app.stop()},
             {"--setup", pid, "86400.5", app.heartbeat(), app.stop()},
             {"--setup", pid, "soon", app.heartbeat(), app.stop()},
             {"--setup", pid, "3600", "heartbeat", app.stop()},
             {"--setup", pid, "3600", app.heartbeat()},
             {"--setuq"}}) {
        const ProcessOutcome setup = machine.vesperon(args);
        EXPECT_EQ(setup.status, 1) << args[2];
        EXPECT_EQ(setup.out + setup.err, "") << args[2];
    }
    EXPECT_TRUE(machine.restored());
    EXPECT_EQ(machine.powerCalls(), 0);
}

TEST_F(SessionSetup, WorksThroughTheAdministratorPromptWithAnAwkwardSessionFolder) {
    FakeApp app(machine, true, "Vesperon-it's \"odd\" \\ folder\nwith a line");
    std::string command;
    for (const std::string& word :
         {std::string(VESPERON_EXECUTABLE), std::string("--setup"), std::to_string(app.pid()),
          std::string("3600"), app.heartbeat(), app.stop()}) {
        command += (command.empty() ? "" : " ") + shellQuote(word);
    }
    // The prompt stand-in runs the command with the environment it was given.
    const ProcessOutcome prompt =
        runProcess({machine.root() + "/usr/bin/osascript", "-e",
                    "do shell script " + appleQuote(command) + " with administrator privileges"},
                   {"VESPERON_SANDBOX=" + machine.root()});
    ASSERT_EQ(prompt.status, 0) << prompt.err;
    EXPECT_EQ(prompt.out, "READY\n");
    // The watcher finds the heartbeat at that path (else it would not switch on), and
    // ends the session when the stop file appears there.
    ASSERT_TRUE(waitUntil([&] { return overrideOn(); }, 5 + slack)) << machine.jobsLog();
    app.createStopFile();
    expectRestoredWithin(5);
}

TEST_F(SessionSetup, DiagnoseReadsTheSandboxedMachine) {
    ProcessOutcome diagnose = machine.vesperon({"--diagnose"});
    EXPECT_EQ(diagnose.status, 0);
    EXPECT_EQ(diagnose.out, "Battery above cutoff or charger connected: true\n"
                            "Thermal state: 0\n"
                            "Sleep override: Optional(false)\n"
                            "Lid closed: false\n"
                            "Recovery job exists: false\n");

    ASSERT_EQ(machine.sandbox({"battery", "15", "battery"}).status, 0);
    ASSERT_EQ(machine.sandbox({"lid", "closed"}).status, 0);
    ASSERT_EQ(machine.sandbox({"thermal", "3"}).status, 0);
    ASSERT_EQ(machine.sandbox({"fail-power", "1"}).status, 0);
    diagnose = machine.vesperon({"--diagnose"});
    EXPECT_EQ(diagnose.status, 0);
    EXPECT_EQ(diagnose.out, "Battery above cutoff or charger connected: false\n"
                            "Thermal state: 3\n"
                            "Sleep override: nil\n"
                            "Lid closed: true\n"
                            "Recovery job exists: false\n");
}

TEST_F(SessionSetup, DiagnoseByAnOrdinaryUserSeesTheOverrideOn) {
    ASSERT_EQ(::chmod(machine.root().c_str(), 0755), 0);
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    const ProcessOutcome diagnose =
        runProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                    VESPERON_EXECUTABLE, "--diagnose"},
                   {"VESPERON_SANDBOX=" + machine.root()});
    EXPECT_EQ(diagnose.status, 0);
    EXPECT_NE(diagnose.out.find("\nSleep override: Optional(true)\n"), std::string::npos)
        << diagnose.out << diagnose.err;
    EXPECT_NE(diagnose.out.find("\nRecovery job exists: true\n"), std::string::npos);
}

TEST_F(SessionSetup, RestoreOnACleanMachinePrintsRestored) {
    const ProcessOutcome restore = machine.vesperon({"--restore"});
    EXPECT_EQ(restore.status, 0) << restore.err;
    EXPECT_EQ(restore.out, "RESTORED\n");
    EXPECT_EQ(restore.err, "");
    EXPECT_TRUE(machine.restored());
}

TEST_F(SessionSetup, RestoreEndsARunningSession) {
    FakeApp app(machine, true);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    const ProcessOutcome restore = machine.vesperon({"--restore"});
    EXPECT_EQ(restore.status, 0) << restore.err;
    EXPECT_EQ(restore.out, "RESTORED\n");
    EXPECT_TRUE(machine.restored()) << machine.sandbox({"state"}).out;
}

} // namespace
} // namespace vesperon::e2e
