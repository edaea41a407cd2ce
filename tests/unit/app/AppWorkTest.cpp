// Task sessions and agent-watched sessions: real child processes, real event files.
#include "AppScenario.hpp"

#include <fstream>
#include <sys/stat.h>

#include "agents/AgentConnectionSetup.hpp"
#include "agents/AgentEventBridge.hpp"

namespace vesperon::testing {
namespace {

using Work = AppScenario;

void startTask(AppScenario& scenario, const std::string& command) {
    scenario.ui.answer(0, command);
    scenario.app->runTask();
    ASSERT_EQ(scenario.privileged.pending.size(), 1u);
    scenario.privileged.respond(true);
    scenario.scheduler.advance(3.0);
}

// --- tasks ---------------------------------------------------------------------------------

TEST_F(Work, TaskExitingWithThreeEndsTheSessionWithItsStatus) {
    make();
    startTask(*this, "sleep 0.2; exit 3");
    EXPECT_EQ(app->statusLine(), "Active — ready to close lid");
    EXPECT_TRUE(app->taskRunner().isRunning());
    EXPECT_EQ(app->panel()->model().stateText, "Task running");
    EXPECT_EQ(app->panel()->model().detailText.rfind("Ends when task exits · limit ", 0), 0u);
    ASSERT_TRUE(runUntil([&] { return !app->sessionRunning(); }));
    EXPECT_EQ(app->lastOutcome(), "Task failed (exit 3) · sleep restored");
    EXPECT_EQ(app->statusLine(), "Ready — normal sleep restored");
}

TEST_F(Work, TaskExitingWithZeroIsCompleted) {
    make();
    startTask(*this, "true");
    ASSERT_TRUE(runUntil([&] { return !app->sessionRunning(); }));
    EXPECT_EQ(app->lastOutcome(), "Task completed · sleep restored");
}

TEST_F(Work, EndingTheSessionKillsTheTaskAndRecordsNoTaskReason) {
    make();
    const std::string marker = home + "/survived";
    startTask(*this, "sleep 2; touch " + marker);
    ASSERT_TRUE(app->taskRunner().isRunning());
    app->panel()->mainAction(); // "End session"
    EXPECT_EQ(app->finishReason(), "Ended manually");
    ASSERT_TRUE(runUntil([&] { return !app->sessionRunning(); }));
    EXPECT_EQ(app->lastOutcome(), "Ended manually · sleep restored");
    std::this_thread::sleep_for(std::chrono::milliseconds(2300));
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(Work, TaskThatCannotStartEndsTheSession) {
    make();
    // A shell that does not exist: the spawn itself fails.
    AppParts parts;
    parts.preferences = makePreferences();
    parts.taskRunner =
        std::make_unique<LocalTaskRunner>(scheduler, temp.path() + "/no-shell", home);
    parts.agentTracking = std::make_unique<AgentTrackingRun>(events, nullptr, agentGrace);
    app = std::make_unique<AppDelegate>(
        AppServices{ui, scheduler, privileged, notifier, hotKey, workspace, machine},
        AppEnvironment{"/opt/vesperon/bin/vesperon", home, tmp, 4242, "help@vesperon.test"},
        std::move(parts));
    app->applicationDidFinishLaunching();
    ui.answer(0, "make");
    app->runTask();
    privileged.respond(true);
    scheduler.advance(3.0);
    EXPECT_EQ(app->finishReason(), "Task could not start");
    EXPECT_EQ(ui.alerts.back().title, "Task could not start");
    EXPECT_FALSE(ui.alerts.back().message.empty());
    scheduler.advance(4.0);
    EXPECT_EQ(app->lastOutcome(), "Task could not start · sleep restored");
}

// --- agents: the dialogs -----------------------------------------------------------------

TEST_F(Work, WatchAgentsOffersNothingWhileASessionOrATaskRuns) {
    make();
    startVerified(600);
    app->watchAgents();
    app->runTask();
    EXPECT_TRUE(ui.dialogs.empty());
    app->stop();
    scheduler.advance(4.0);
    ASSERT_FALSE(app->sessionRunning());
    // A task whose session is gone but which is still being reaped blocks too.
    ASSERT_TRUE(app->taskRunner().launch("sleep 5", [](int) {}));
    app->watchAgents();
    app->runTask();
    EXPECT_TRUE(ui.dialogs.empty());
    app->taskRunner().cancel();
    EXPECT_TRUE(runUntil([&] { return !app->taskRunner().isRunning(); }, 5));
}

TEST_F(Work, ConnectingClaudeCodeInstallsHooksAndStartsNothing) {
    make();
    ui.answer(0, "", 1); // Continue, "Claude Code"
    ui.answer(0);        // Connect
    app->watchAgents();
    EXPECT_EQ(ui.dialogTitles(),
              (std::vector<std::string>{"What are you running?", "Connect Claude Code"}));
    EXPECT_TRUE(fs::exists(home + "/.claude/settings.json"));
    EXPECT_EQ(ui.alerts.back(),
              (ShownAlert{"Agent connected", "Restart the agent, then click Watch agents again."}));
    EXPECT_TRUE(privileged.requests.empty());
}

TEST_F(Work, ClaudeCodeWithAllHooksDisabledIsRefused) {
    make();
    AgentConnectionSetup setup("/opt/vesperon/bin/vesperon", home);
    ASSERT_TRUE(setup.install("claude"));
    {
        std::ifstream in(home + "/.claude/settings.json");
        std::string text((std::istreambuf_iterator<char>(in)), {});
        text.insert(text.find('{') + 1, "\"disableAllHooks\": true,");
        std::ofstream(home + "/.claude/settings.json") << text;
    }
    ui.answer(0, "", 1);
    app->watchAgents();
    EXPECT_EQ(ui.alerts.back().title, "Claude Code hooks are off");
    EXPECT_EQ(ui.alerts.back().message,
              "Claude Code has disableAllHooks enabled. Turn hooks on in Claude Code settings, "
              "review the Vesperon hook in /hooks, then try again.");
    EXPECT_TRUE(privileged.requests.empty());
}

TEST_F(Work, AnotherAppStartsAPlainTimedSession) {
    make();
    ui.answer(0, "", 4);
    ui.answer(0);
    app->watchAgents();
    EXPECT_EQ(ui.dialogTitles().back(), "Use a timed session");
    privileged.respond(true);
    scheduler.advance(3.0);
    EXPECT_FALSE(app->watchingAgents());
    EXPECT_FALSE(fs::exists(events + "/current.json"));
}

TEST_F(Work, TerminalChoiceOpensTheTaskDialog) {
    make();
    ui.answer(0, "", 3);
    app->watchAgents();
    EXPECT_EQ(ui.dialogTitles().back(), "Run a task");
}

TEST_F(Work, StartWatchingWhileRecoveryIsPendingClearsThePendingWatch) {
    make();
    machine.rootState = true;
    ui.answer(0);
    app->beginAgentWatch("opencode");
    EXPECT_FALSE(app->pendingAgentWatch());
    EXPECT_EQ(ui.alerts.back().title, "A session needs attention");
}

TEST_F(Work, ConnectAgentsInstallsTheChosenProviderOrNothing) {
    make();
    ui.answer(3); // Cancel
    app->connectAgents();
    EXPECT_FALSE(fs::exists(home + "/.codex"));
    EXPECT_FALSE(fs::exists(home + "/.claude"));
    ui.answer(0); // Codex
    app->connectAgents();
    const std::string path = home + "/.codex/hooks.json";
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(ui.alerts.back().title, "Agent hooks added");
    EXPECT_EQ(ui.alerts.back().message.rfind("Saved to " + path + ". Restart the agent.", 0), 0u);
}

// --- agents: the Codex check ----------------------------------------------------------------

class CodexWork : public Work {
  protected:
    std::thread::id checkThread;
    CodexHookTrust answer = CodexHookTrust::trusted();

    void SetUp() override {
        Work::SetUp();
        codexCheck = [this](const std::string& executable, const std::string& cwd) {
            checkThread = std::this_thread::get_id();
            EXPECT_EQ(executable, "/opt/vesperon/bin/vesperon");
            EXPECT_EQ(cwd, home);
            return answer;
        };
    }
    void waitForCheck() {
        for (int i = 0; i < 500 && app->backgroundWork() > 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_EQ(app->backgroundWork(), 0u);
        scheduler.drain();
    }
};

TEST_F(CodexWork, FreshlyConnectedCodexIsCheckedOffTheMainThread) {
    make();
    answer = CodexHookTrust::needsReview();
    ui.answer(0, "", 0); // Continue, "Codex"
    ui.answer(0);        // Connect
    app->watchAgents();
    EXPECT_TRUE(fs::exists(home + "/.codex/hooks.json"));
    EXPECT_EQ(ui.dialogTitles().back(), "Connect Codex"); // nothing more until the answer
    waitForCheck();
    EXPECT_NE(checkThread, std::this_thread::get_id());
    EXPECT_EQ(ui.dialogTitles().back(), "Trust Vesperon in Codex");
    EXPECT_TRUE(privileged.requests.empty());
}

TEST_F(CodexWork, TrustedCodexGoesOnToTheWatch) {
    make();
    ASSERT_TRUE(AgentConnectionSetup("/opt/vesperon/bin/vesperon", home).install("codex"));
    ui.answer(0, "", 0);
    ui.answer(0); // Start watching
    app->watchAgents();
    waitForCheck();
    EXPECT_EQ(ui.dialogTitles().back(), "Watch agent work");
    EXPECT_TRUE(app->pendingAgentWatch());
    EXPECT_EQ(privileged.requests.size(), 1u);
}

TEST_F(CodexWork, UnavailableCodexIsExplained) {
    make();
    ASSERT_TRUE(AgentConnectionSetup("/opt/vesperon/bin/vesperon", home).install("codex"));
    answer = CodexHookTrust::unavailable(
        "Codex CLI was not found. Install or open Codex before watching its work.");
    ui.answer(0, "", 0);
    app->watchAgents();
    waitForCheck();
    EXPECT_EQ(
        ui.alerts.back(),
        (ShownAlert{"Agent tracking is not ready",
                    "Codex CLI was not found. Install or open Codex before watching its work."}));
}

TEST_F(CodexWork, AnswerArrivingAfterASessionBeganIsDiscarded) {
    make();
    ASSERT_TRUE(AgentConnectionSetup("/opt/vesperon/bin/vesperon", home).install("codex"));
    ui.answer(0, "", 0);
    app->watchAgents();
    app->start(600); // meanwhile, from the shortcut say
    waitForCheck();
    EXPECT_EQ(ui.dialogTitles().size(), 1u);
    EXPECT_FALSE(app->pendingAgentWatch());
}

TEST_F(CodexWork, TrustDialogOpensTerminalOrChecksAgain) {
    make();
    workspace.terminalError = "The application could not be found.";
    ui.answer(0); // Open Terminal
    app->promptCodexTrust();
    EXPECT_EQ(workspace.terminalOpens, 1);
    EXPECT_TRUE(ui.alerts.empty()); // the error comes back through the main queue
    scheduler.drain();
    EXPECT_EQ(ui.alerts.back(),
              (ShownAlert{"Could not open Terminal", "The application could not be found."}));

    answer = CodexHookTrust::trusted();
    ui.answer(1); // Check again
    ui.answer(1); // ...then cancel the watch
    app->promptCodexTrust();
    waitForCheck();
    EXPECT_EQ(ui.dialogTitles().back(), "Watch agent work");
    EXPECT_TRUE(privileged.requests.empty());
}

// --- agents: a watched session -----------------------------------------------------------

std::string claudePayload(const std::string& event) {
    return R"({"session_id":"abc-123","hook_event_name":")" + event + R"("})";
}

TEST_F(Work, AgentSessionEndsWhenTheWorkFinishes) {
    make();
    ASSERT_TRUE(AgentConnectionSetup("/opt/vesperon/bin/vesperon", home).install("claude"));
    ui.answer(0, "", 1); // Claude Code
    ui.answer(0);        // I've checked
    ui.answer(0);        // Start watching
    app->watchAgents();
    EXPECT_EQ(ui.dialogTitles(),
              (std::vector<std::string>{"What are you running?", "Check Claude Code",
                                        "Watch agent work"}));
    ASSERT_TRUE(app->pendingAgentWatch());
    privileged.respond(true);
    scheduler.advance(3.0);
    ASSERT_TRUE(app->watchingAgents());
    EXPECT_FALSE(app->pendingAgentWatch());
    EXPECT_TRUE(fs::exists(events + "/current.json"));
    EXPECT_EQ(app->panel()->model().stateText, "Waiting for an agent task");
    EXPECT_EQ(app->panel()->model().detailText.rfind("Ends when agents finish · limit ", 0), 0u);

    ASSERT_TRUE(AgentEventBridge::emit("claude", claudePayload("UserPromptSubmit"), events));
    scheduler.advance(2.0);
    EXPECT_EQ(app->panel()->model().stateText, "Agent working");
    ASSERT_TRUE(AgentEventBridge::emit("claude", claudePayload("Stop"), events));
    scheduler.advance(2.0);
    EXPECT_EQ(app->panel()->model().stateText, "Agent turn finished · checking for more work");
    EXPECT_FALSE(app->stopping());
    std::this_thread::sleep_for(std::chrono::milliseconds(400)); // the quiet period
    scheduler.advance(2.0);
    EXPECT_EQ(app->finishReason(), "Agent work finished");
    EXPECT_FALSE(fs::exists(events + "/current.json")); // disarmed at the stop
    scheduler.advance(4.0);
    EXPECT_EQ(app->lastOutcome(), "Agent work finished · sleep restored");
}

TEST_F(Work, ArmingFailureEndsTheSessionBeforeAnyTask) {
    make();
    fs::create_directories(events);
    fs::permissions(events, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    ui.answer(0); // Start watching
    app->beginAgentWatch("opencode");
    privileged.respond(true);
    scheduler.advance(3.0);
    EXPECT_EQ(app->finishReason(), "Agent tracking could not start");
    EXPECT_EQ(ui.alerts.back(),
              (ShownAlert{"Could not watch agents",
                          "Agent event folder must be private and owned by you."}));
    EXPECT_TRUE(app->stopping());
    EXPECT_FALSE(app->watchingAgents());
}

} // namespace
} // namespace vesperon::testing
