// The real session controller with the real administrator request against a
// sandboxed machine (osascript stand-in, the real helper, the real watcher under the
// service manager stand-in), in real time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unistd.h>

#include "AppFakes.hpp"
#include "RealTimeScheduler.hpp"
#include "SandboxedMachine.hpp"
#include "app/AppDelegate.hpp"
#include "app/OsascriptRequest.hpp"
#include "app/SystemMachine.hpp"
#include "platform/SystemLayout.hpp"
#include "preferences/PropertyListFile.hpp"

namespace vesperon::e2e {
namespace {

namespace fs = std::filesystem;

class AppEndToEnd : public ::testing::Test {
  protected:
    SandboxedMachine machine;
    std::string folder;
    RealTimeScheduler scheduler;
    testing::FakeUi ui;
    testing::FakeNotifier notifier;
    testing::FakeHotKey hotKey;
    testing::FakeWorkspace workspace;
    SystemMachine probes;
    std::unique_ptr<OsascriptRequest> prompt;
    std::unique_ptr<AppDelegate> app;

    void SetUp() override {
        ASSERT_EQ(machine.failure(), "");
        // This process reads the sandboxed machine, as the app does in a sandbox build;
        // each test runs in its own process, so the layout is fixed to this machine.
        ::setenv("VESPERON_SANDBOX", machine.root().c_str(), 1);
        ASSERT_EQ(systemLayout().sandboxRoot, machine.root());
        folder = machine.root() + "/app";
        fs::create_directories(folder + "/tmp");

        prompt = std::make_unique<OsascriptRequest>(scheduler, systemLayout().osascriptPath,
                                                    VESPERON_EXECUTABLE);
        AppParts parts;
        parts.preferences = std::make_unique<PreferencesStore>(
            std::make_unique<PropertyListFile>(folder + "/preferences.plist"));
        parts.taskRunner = std::make_unique<LocalTaskRunner>(scheduler, "/bin/sh", folder);
        // The hook endpoint and the run agree on the machine's home folder; a short
        // quiet period keeps the test short.
        parts.agentTracking = std::make_unique<AgentTrackingRun>(std::nullopt, nullptr, 2.0);
        app = std::make_unique<AppDelegate>(
            AppServices{ui, scheduler, *prompt, notifier, hotKey, workspace, probes},
            AppEnvironment{VESPERON_EXECUTABLE, folder, folder + "/tmp", ::getpid(), "x@y.z"},
            std::move(parts));
        app->applicationDidFinishLaunching();
        ASSERT_TRUE(app->preferences().setSessionAlertsEnabled(true));
    }

    void TearDown() override {
        if (app && (app->sessionRunning() || app->starting())) {
            app->stop(); // leave nothing running behind a failed test
            scheduler.runUntil([&] { return !app->sessionRunning(); }, 10);
        }
        app.reset();
        prompt.reset();
    }

    bool reaches(const std::string& status, double seconds) {
        return scheduler.runUntil([&] { return app->statusLine() == status; }, seconds);
    }

    bool overrideOn() const { return readFile(machine.machineFile("sleep-disabled")) == "1\n"; }

    void expectCleanEnd(const std::string& outcome) {
        EXPECT_EQ(app->lastOutcome(), outcome);
        EXPECT_TRUE(machine.restored()) << machine.sandbox({"state"}).out;
        EXPECT_FALSE(app->sessionFolder());
        EXPECT_TRUE(fs::is_empty(folder + "/tmp"));
        ASSERT_FALSE(notifier.posted.empty());
        EXPECT_EQ(notifier.posted.back().title + " · sleep restored", outcome);
        EXPECT_TRUE(ui.alerts.empty())
            << ui.alerts.front().title << ": " << ui.alerts.front().message;
    }

    // One hook call of an agent: the real executable reading the payload on its input.
    void hook(const std::string& provider, const std::string& payload) {
        const ProcessOutcome outcome = runProcess(
            {"/bin/sh", "-c",
             "printf '%s' '" + payload + "' | '" VESPERON_EXECUTABLE "' --agent-event " + provider},
            {"VESPERON_SANDBOX=" + machine.root()}, 10);
        ASSERT_EQ(outcome.status, 0) << outcome.err;
        ASSERT_EQ(outcome.out, "{}\n");
    }
};

TEST_F(AppEndToEnd, TimedSessionOfOneMinuteEndsWithSleepRestored) {
    app->start(60);
    EXPECT_EQ(app->statusLine(), "Waiting for macOS authorization…");
    ASSERT_TRUE(reaches("Starting — checking sleep setting…", 15)) << app->statusLine();
    const double verifiedFrom = steadySeconds();
    ASSERT_TRUE(reaches("Active — ready to close lid", 10))
        << app->statusLine() << machine.jobsLog();
    EXPECT_GE(steadySeconds() - verifiedFrom, 2.5); // the 3-second verification
    EXPECT_TRUE(overrideOn());
    EXPECT_EQ(app->statusItemTitle(), " 1m");

    // The heartbeat is renewed every tick: the watcher keeps the override on.
    ASSERT_TRUE(scheduler.runUntil([] { return false; }, 30.0) == false);
    EXPECT_TRUE(overrideOn());
    EXPECT_TRUE(app->sessionRunning());

    ASSERT_TRUE(reaches("Ready — normal sleep restored", 45)) << app->statusLine();
    const double sessionSeconds = steadySeconds() - verifiedFrom;
    EXPECT_GE(sessionSeconds, 55.0);
    EXPECT_LE(sessionSeconds, 70.0);
    expectCleanEnd("Timer ended · sleep restored");
}

TEST_F(AppEndToEnd, TaskExitingWithThreeEndsTheSession) {
    ui.answer(0, "  sleep 2; exit 3  ");
    app->runTask();
    ASSERT_EQ(app->pendingCommand(), "sleep 2; exit 3");
    ASSERT_TRUE(reaches("Active — ready to close lid", 20)) << app->statusLine();
    EXPECT_TRUE(app->taskRunner().isRunning());
    EXPECT_TRUE(overrideOn());
    ASSERT_TRUE(reaches("Ready — normal sleep restored", 30)) << app->statusLine();
    expectCleanEnd("Task failed (exit 3) · sleep restored");
}

TEST_F(AppEndToEnd, AgentSessionEndsWhenRealHookProcessesReportTheWorkFinished) {
    ui.answer(0); // "Start watching"
    app->beginAgentWatch("claude");
    ASSERT_TRUE(reaches("Active — ready to close lid", 20)) << app->statusLine();
    ASSERT_TRUE(app->watchingAgents());
    ASSERT_TRUE(app->agentSnapshot());
    EXPECT_EQ(app->agentSnapshot()->summary, "Waiting for an agent task");

    hook("claude", R"({"session_id":"e2e-1","hook_event_name":"UserPromptSubmit"})");
    hook("claude", R"({"session_id":"e2e-1","hook_event_name":"PreToolUse","tool_name":"Bash"})");
    ASSERT_TRUE(scheduler.runUntil(
        [&] { return app->agentSnapshot() && app->agentSnapshot()->summary == "Agent working"; },
        6));
    EXPECT_TRUE(overrideOn());
    hook("claude", R"({"session_id":"e2e-1","hook_event_name":"Stop"})");
    ASSERT_TRUE(reaches("Ready — normal sleep restored", 30)) << app->statusLine();
    expectCleanEnd("Agent work finished · sleep restored");
}

} // namespace
} // namespace vesperon::e2e
