// What the connection setup writes, used by the real agents from npm (see agentBinFolder):
// Claude Code runs the hooks of its settings file, OpenCode loads the plugin, Codex
// reports the installed hooks for review. The hooks run a recorder in place of this
// executable. Label "integration": not part of the quick suite.
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "AgentTestFiles.hpp"
#include "agents/AgentConnectionSetup.hpp"
#include "agents/CodexHookTrust.hpp"
#include "common/Quoting.hpp"

namespace vesperon {
namespace {

using nlohmann::json;

class AgentIntegrationTest : public ::testing::Test {
  protected:
    // Connects `agent` to the recorder, runs `arguments` with HOME set to the throw-away
    // home and returns what each hook run got on its input (one file per run: hooks of
    // one event may run at once). Skips the test when the agent is not installed.
    std::vector<std::string> hookInputs(const std::string& agent, const std::string& arguments) {
        const std::string bin = testing::agentBinFolder(agent);
        if (bin.empty()) {
            return {};
        }
        testing::writeFile(recorder_,
                           "#!/bin/sh\nf=\"$0.runs/$$\"\n"
                           "printf '%s\\n' \"$*\" > \"$f\"\ncat >> \"$f\"\n",
                           0755);
        std::filesystem::create_directories(recorder_ + ".runs");
        std::filesystem::create_directories(home / "work");
        EXPECT_TRUE(AgentConnectionSetup(recorder_, home.path()).install(agent));
        const std::string line = "cd " + shellQuote(home / "work") +
                                 " && HOME=" + shellQuote(home.path()) + " timeout 120 " +
                                 shellQuote(bin + "/" + agent) + " " + arguments + " </dev/null >" +
                                 shellQuote(home / "agent.log") + " 2>&1";
        (void)std::system(line.c_str());
        std::vector<std::string> inputs;
        for (const auto& entry : std::filesystem::directory_iterator(recorder_ + ".runs")) {
            const std::string text = testing::readFile(entry.path().string());
            const auto newline = text.find('\n');
            EXPECT_EQ(text.substr(0, newline), "--agent-event " + agent);
            inputs.push_back(newline == std::string::npos ? "" : text.substr(newline + 1));
        }
        EXPECT_FALSE(inputs.empty()) << "no hook ran\n" << log();
        return inputs;
    }
    std::string log() const { return testing::readFile(home / "agent.log"); }

    testing::TempFolder home;
    std::string recorder_ = home / "bin/recorder's copy";
};

TEST_F(AgentIntegrationTest, ClaudeCodeRunsTheInstalledHooks) {
    if (testing::agentBinFolder("claude").empty()) {
        GTEST_SKIP() << "Claude Code from npm is not installed";
    }
    // Without a login, a prompt still submits, fails and ends the session.
    std::set<std::string> events;
    for (const std::string& input : hookInputs("claude", "-p hello")) {
        events.insert(json::parse(input, nullptr, false).value("hook_event_name", "(not JSON)"));
    }
    EXPECT_EQ(events, (std::set<std::string>{"UserPromptSubmit", "StopFailure", "SessionEnd"}))
        << log();
}

TEST_F(AgentIntegrationTest, OpenCodeLoadsThePluginAndPassesSessionEventsOn) {
    if (testing::agentBinFolder("opencode").empty()) {
        GTEST_SKIP() << "OpenCode from npm is not installed";
    }
    // A prompt to a model that does not exist: busy, the error, idle. "opencode run" exits
    // right after the error, so on a loaded machine a hand-over still under way is cut
    // short (an empty input) and the ones queued behind it never start.
    const std::vector<std::string> sequence = {"session.status.busy", "session.error",
                                               "session.status.idle", "session.idle"};
    std::vector<std::string> seen;
    for (const std::string& input : hookInputs("opencode", "run -m nosuch/model hello")) {
        if (input.empty()) {
            continue;
        }
        const json event = json::parse(input, nullptr, false);
        std::string type = event.value("type", "(not JSON) " + input);
        if (type == "session.status") {
            type += "." + event["properties"]["status"].value("type", "");
        }
        EXPECT_TRUE(event["properties"]["sessionID"].is_string()) << input;
        seen.push_back(type);
    }
    std::sort(seen.begin(), seen.end());
    std::vector<std::string> expected(sequence.begin(), sequence.begin() + seen.size());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected) << log();
}

TEST_F(AgentIntegrationTest, FreshlyInstalledCodexHooksNeedReview) {
    const std::string bin = testing::agentBinFolder("codex");
    if (bin.empty()) {
        GTEST_SKIP() << "Codex from npm is not installed";
    }
    // Codex finds its hooks file through HOME, which its child inherits.
    const std::string saved = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", home.path().c_str(), 1);
    const std::string exe = "/opt/Vesperon/bin/vesperon";
    const auto kind = [&] { return CodexHookTrust::check(exe, home.path(), {{}, bin}).kind(); };
    EXPECT_EQ(kind(), CodexHookTrust::Kind::unavailable) << "no hooks yet";
    EXPECT_TRUE(AgentConnectionSetup(exe, home.path()).install("codex"));
    EXPECT_EQ(kind(), CodexHookTrust::Kind::needsReview);
    ::setenv("HOME", saved.c_str(), 1);
}

} // namespace
} // namespace vesperon
