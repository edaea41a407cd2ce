// Task sessions and agent-watched sessions: real child processes, real event files.
#include "AppScenario.hpp"

#include "agents/AgentConnectionSetup.hpp"
#include "agents/AgentEventBridge.hpp"

namespace vesperon::testing {
namespace {

class Work : public AppScenario {
  protected:
    void startTask(const std::string& command) {
        ui.answer(0, "  " + command + " \n"); // the dialog trims what it is given
        app->runTask();
        EXPECT_EQ(app->pendingCommand(), command);
        ASSERT_EQ(privileged.pending.size(), 1u);
        privileged.respond(true);
        scheduler.advance(3.0);
    }
};

TEST_F(Work, TaskEndsTheSessionWithItsStatusOrEndsWithIt) {
    for (const auto& [command, outcome] : std::vector<std::pair<std::string, std::string>>{
             {"sleep 0.2; exit 3", "Task failed (exit 3) · sleep restored"},
             {"true", "Task completed · sleep restored"},
             {"sleep 60", "Ended manually · sleep restored"}}) {
        SCOPED_TRACE(command);
        make();
        startTask(command);
        if (command == "sleep 60") {
            app->panel()->mainAction(); // "End session" stops the task too
        }
        ASSERT_TRUE(
            runUntil([&] { return !app->sessionRunning() && !app->taskRunner().isRunning(); }));
        EXPECT_EQ(app->lastOutcome(), outcome);
    }
}

TEST_F(Work, AgentSessionEndsWhenTheWorkFinishes) {
    make();
    ASSERT_TRUE(AgentConnectionSetup("/opt/vesperon/bin/vesperon", home).install("claude"));
    ui.answer(0, "", 1); // Claude Code
    ui.answer(0);        // I've checked
    ui.answer(0);        // Start watching
    app->watchAgents();
    EXPECT_EQ(ui.dialogs.back(), "Watch agent work");
    privileged.respond(true);
    scheduler.advance(3.0);
    ASSERT_TRUE(app->watchingAgents());
    EXPECT_EQ(app->panel()->model().stateText, "Waiting for an agent task");

    for (const std::string event : {"UserPromptSubmit", "Stop"}) {
        ASSERT_TRUE(AgentEventBridge::emit(
            "claude", R"({"session_id":"abc-123","hook_event_name":")" + event + R"("})", events));
        scheduler.advance(2.0);
        EXPECT_EQ(app->panel()->model().stateText,
                  event == "Stop" ? "Agent turn finished · checking for more work"
                                  : "Agent working");
    }
    agentClockAhead = 5.0; // inside the quiet period, with seconds to spare
    scheduler.advance(2.0);
    EXPECT_FALSE(app->stopping());
    agentClockAhead = 11.0;
    scheduler.advance(2.0);
    EXPECT_FALSE(fs::exists(events + "/current.json")); // disarmed at the stop
    scheduler.advance(4.0);
    EXPECT_EQ(app->lastOutcome(), "Agent work finished · sleep restored");
}

} // namespace
} // namespace vesperon::testing
