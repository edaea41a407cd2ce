// What the connection setup writes, run by the real agents: Claude Code runs the hooks
// of the settings file, OpenCode loads the plugin and passes its session events on.
// The hooks run a recorder in place of this executable. Label "integration": not
// part of the quick suite; the agents are installed as AgentPackages.hpp says.
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include "AgentPackages.hpp"
#include "TestFiles.hpp"
#include "agents/AgentConnectionSetup.hpp"
#include "common/Quoting.hpp"

namespace vesperon {
namespace {

using testing::readFile;
using testing::TempFolder;
using testing::writeText;

// One recorded hook run: its arguments and what it got on standard input.
struct HookRun {
    std::string arguments;
    nlohmann::json payload;
};

class AgentHooksIntegrationTest : public ::testing::Test {
  protected:
    TempFolder home;

    // A stand-in for this executable that keeps every run in a file of its own
    // (hooks of one event may run at the same time).
    std::string recorder() {
        const std::string path = home / "bin/recorder's copy";
        writeText(path,
                  "#!/bin/sh\nf=\"$0.runs/$$\"\nprintf '%s\\n' \"$*\" > \"$f\"\ncat >> \"$f\"\n");
        ::chmod(path.c_str(), 0755);
        std::filesystem::create_directories(path + ".runs");
        return path;
    }

    std::vector<HookRun> runs(const std::string& recorderPath) {
        std::vector<HookRun> found;
        for (const auto& entry : std::filesystem::directory_iterator(recorderPath + ".runs")) {
            const std::string text = readFile(entry.path().string());
            const auto newline = text.find('\n');
            found.push_back({text.substr(0, newline),
                             nlohmann::json::parse(text.substr(newline + 1), nullptr, false)});
        }
        return found;
    }

    // Runs `command` in home/work with HOME set to the throw-away home folder.
    int runAgent(const std::string& command) {
        std::filesystem::create_directories(home / "work");
        const std::string line = "cd " + shellQuote(home / "work") +
                                 " && HOME=" + shellQuote(home.path()) + " timeout 120 " + command +
                                 " </dev/null >" + shellQuote(home / "agent.log") + " 2>&1";
        return std::system(line.c_str());
    }
};

TEST_F(AgentHooksIntegrationTest, ClaudeCodeRunsTheInstalledHooks) {
    const std::string bin = testing::agentBinFolder("claude");
    if (bin.empty()) {
        GTEST_SKIP() << "Claude Code from npm is not installed (see AgentPackages.hpp)";
    }
    const std::string hook = recorder();
    writeText(home / ".claude/settings.json", R"({"theme": "dark"})");
    const AgentConnectionSetup setup(hook, home.path());
    ASSERT_TRUE(setup.install("claude"));

    // Without a login, a prompt still submits, fails and ends the session.
    runAgent(shellQuote(bin + "/claude") + " -p hello");
    std::set<std::string> events;
    for (const auto& run : runs(hook)) {
        EXPECT_EQ(run.arguments, "--agent-event claude");
        ASSERT_TRUE(run.payload.is_object()) << readFile(home / "agent.log");
        events.insert(run.payload.value("hook_event_name", ""));
    }
    EXPECT_EQ(events, (std::set<std::string>{"UserPromptSubmit", "StopFailure", "SessionEnd"}))
        << readFile(home / "agent.log");
}

TEST_F(AgentHooksIntegrationTest, OpenCodeLoadsThePluginAndPassesSessionEventsOn) {
    const std::string bin = testing::agentBinFolder("opencode");
    if (bin.empty()) {
        GTEST_SKIP() << "OpenCode from npm is not installed (see AgentPackages.hpp)";
    }
    const std::string hook = recorder();
    const AgentConnectionSetup setup(hook, home.path());
    ASSERT_TRUE(setup.install("opencode"));

    // A prompt to a model that does not exist: busy, the error, idle.
    runAgent(shellQuote(bin + "/opencode") + " run -m nosuch/model hello");
    std::map<std::string, int> seen;
    for (const auto& run : runs(hook)) {
        EXPECT_EQ(run.arguments, "--agent-event opencode");
        ASSERT_TRUE(run.payload.is_object()) << readFile(home / "agent.log");
        std::string type = run.payload.value("type", "");
        if (type == "session.status") {
            type += "." + run.payload["properties"]["status"].value("type", "");
        }
        ++seen[type];
        EXPECT_TRUE(run.payload["properties"]["sessionID"].is_string());
    }
    EXPECT_EQ(seen, (std::map<std::string, int>{{"session.status.busy", 1},
                                                {"session.error", 1},
                                                {"session.status.idle", 1},
                                                {"session.idle", 1}}))
        << readFile(home / "agent.log");
}

} // namespace
} // namespace vesperon
