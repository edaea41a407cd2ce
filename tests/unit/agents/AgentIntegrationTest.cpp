// What the connection setup writes, used by the real agents from npm: Claude Code runs
// the hooks of its settings file, OpenCode loads the plugin, Codex reports the installed
// hooks for review. Label "integration": not in the quick suite. The agents are looked
// for under VESPERON_AGENT_PACKAGES (default ~/.cache/vesperon-agents), e.g.
//   npm install --prefix ~/.cache/vesperon-agents/codex @openai/codex@0.169.0
// and likewise claude (@anthropic-ai/claude-code@2.1.328), opencode (opencode-ai@1.18.33).
#include <cstdlib>
#include <set>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "agents/AgentConnectionSetup.hpp"
#include "agents/CodexHookTrust.hpp"
#include "common/Quoting.hpp"

namespace vesperon {
namespace {

using nlohmann::json;

class AgentIntegrationTest : public ::testing::Test {
  protected:
    // Whether `agent`'s command is installed; `bin` becomes its folder.
    bool installed(const std::string& agent) {
        const char* packages = std::getenv("VESPERON_AGENT_PACKAGES");
        const char* user = std::getenv("HOME");
        bin = (packages ? packages : std::string(user ? user : "") + "/.cache/vesperon-agents") +
              "/" + agent + "/node_modules/.bin";
        return ::access((bin + "/" + agent).c_str(), X_OK) == 0;
    }
    // Connects `agent` to a recorder standing in for this executable, runs it with
    // `arguments` in a throw-away home, and returns the input of each hook run.
    std::vector<json> hookInputs(const std::string& agent, const std::string& arguments) {
        const std::string recorder = home / "bin/recorder's copy";
        testing::writeFile(
            recorder, "#!/bin/sh\nf=\"$0.runs/$$\"\necho \"$*\" > \"$f\"\ncat >> \"$f\"\n", 0755);
        std::filesystem::create_directories(recorder + ".runs");
        std::filesystem::create_directories(home / "work");
        EXPECT_TRUE(AgentConnectionSetup(recorder, home.path()).install(agent));
        (void)std::system(("cd " + shellQuote(home / "work") +
                           " && HOME=" + shellQuote(home.path()) + " timeout 120 " +
                           shellQuote(bin + "/" + agent) + " " + arguments + " </dev/null >" +
                           shellQuote(home / "agent.log") + " 2>&1")
                              .c_str());
        std::vector<json> inputs;
        for (const auto& entry : std::filesystem::directory_iterator(recorder + ".runs")) {
            const std::string text = testing::readFile(entry.path().string());
            EXPECT_TRUE(text.starts_with("--agent-event " + agent + "\n")) << text;
            inputs.push_back(json::parse(text.substr(std::min(text.find('\n') + 1, text.size())),
                                         nullptr, false));
        }
        EXPECT_FALSE(inputs.empty()) << "no hook ran\n" << log();
        return inputs;
    }
    std::string log() const { return testing::readFile(home / "agent.log"); }

    testing::TempFolder home;
    std::string bin;
};

TEST_F(AgentIntegrationTest, ClaudeCodeRunsTheInstalledHooks) {
    if (!installed("claude")) {
        GTEST_SKIP() << "Claude Code from npm is not installed";
    }
    // Without a login, a prompt still submits, fails and ends the session.
    std::set<std::string> events;
    for (const json& input : hookInputs("claude", "-p hello")) {
        events.insert(input.value("hook_event_name", "(not JSON)"));
    }
    EXPECT_EQ(events, (std::set<std::string>{"UserPromptSubmit", "StopFailure", "SessionEnd"}))
        << log();
}

TEST_F(AgentIntegrationTest, OpenCodeLoadsThePluginAndPassesSessionEventsOn) {
    if (!installed("opencode")) {
        GTEST_SKIP() << "OpenCode from npm is not installed";
    }
    // A prompt to a model that does not exist: busy, the error, idle. "opencode run" exits
    // right after the error, so on a loaded machine it can cut a hand-over short (input
    // that is not JSON), and the ones queued behind it never start: what came is a prefix.
    const std::vector<std::string> sequence = {"session.status.busy", "session.error",
                                               "session.status.idle", "session.idle"};
    std::multiset<std::string> seen;
    for (const json& input : hookInputs("opencode", "run -m nosuch/model hello")) {
        if (input.is_object()) {
            const std::string type = input.value("type", "");
            seen.insert(type == "session.status"
                            ? type + "." + input["properties"]["status"].value("type", "")
                            : type);
            EXPECT_TRUE(input["properties"]["sessionID"].is_string()) << input;
        }
    }
    EXPECT_EQ(seen, std::multiset<std::string>(
                        sequence.begin(), sequence.begin() + std::min<std::size_t>(seen.size(), 4)))
        << log();
}

TEST_F(AgentIntegrationTest, FreshlyInstalledCodexHooksNeedReview) {
    if (!installed("codex")) {
        GTEST_SKIP() << "Codex from npm is not installed";
    }
    // Codex finds its hooks file through HOME, which its child inherits.
    const std::string saved = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", home.path().c_str(), 1);
    const std::string exe = "/opt/Vesperon/bin/vesperon";
    const auto kind = [&] { return CodexHookTrust::check(exe, home.path(), {{}, bin}).kind(); };
    EXPECT_EQ(kind(), CodexHookTrust::Kind::Unavailable) << "no hooks yet";
    EXPECT_TRUE(AgentConnectionSetup(exe, home.path()).install("codex"));
    EXPECT_EQ(kind(), CodexHookTrust::Kind::NeedsReview);
    ::setenv("HOME", saved.c_str(), 1);
}

} // namespace
} // namespace vesperon
