#include "agents/AgentConnectionSetup.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "agents/ForeignJson.hpp"

namespace vesperon {
namespace {

using nlohmann::json;
using namespace testing; // readFile, writeFile, permissions, entries
using Names = std::vector<std::string>;

constexpr const char* exe = "/Applications/Vesperon.app/Contents/MacOS/Vesperon";
const std::string linked =
    "Configuration paths must contain regular files and folders, without symbolic links.";

// Settings as a user might have them: foreign keys, numbers a double-based reader would
// change, groups of ours from an earlier install (one mixed with a foreign handler) and
// a group with an older path of this executable.
const std::string userSettings = R"json({
  "model": "opus", "env": {"NOTE": "caf\u00e9 \ud83d\ude80"},
  "limits": {"huge": 123456789012345678901234567890, "one": 1.0, "tiny": -0.0},
  "hooks": {
    "Stop": [
      {"matcher": "", "hooks": [{"type": "command", "command": "notify-send done"}]},
      {"hooks": [{"type": "command", "command": "'/Applications/Vesperon.app/Contents/MacOS/Vesperon' --agent-event claude", "timeout": 5},
                 {"type": "command", "command": "say stop", "timeout": 9}]}
    ],
    "PreToolUse": [
      {"matcher": "Bash", "hooks": [{"type": "command", "command": "'/Old/Vesperon' --agent-event claude"}]},
      {"hooks": [{"type": "command", "command": "'/Applications/Vesperon.app/Contents/MacOS/Vesperon' --agent-event claude", "timeout": 5}]}
    ]
  }
})json";

const json ourGroup = {{"hooks",
                        {{{"type", "command"},
                          {"command", std::string("'") + exe + "' --agent-event claude"},
                          {"timeout", 5}}}}};

class AgentConnectionSetupTest : public ::testing::Test {
  protected:
    std::string claudePath() const { return home / ".claude/settings.json"; }
    std::string codexPath() const { return home / ".codex/hooks.json"; }
    static std::string message(const Result<std::string>& result) {
        return result ? *result : result.error().message;
    }

    testing::TempFolder home;
    AgentConnectionSetup setup{exe, home.path()};
};

TEST_F(AgentConnectionSetupTest, FirstInstallsWriteOnlyOurHooksPrivately) {
    EXPECT_EQ(setup.isInstalled("claude"), false);
    EXPECT_EQ(message(setup.install("claude")), claudePath());
    EXPECT_EQ(permissions(home / ".claude"), 0700);
    EXPECT_EQ(permissions(claudePath()), 0600);
    json expected = {{"hooks", json::object()}};
    for (const char* event :
         {"UserPromptSubmit", "PreToolUse", "PostToolUse", "PermissionRequest", "Notification",
          "Stop", "StopFailure", "SessionEnd", "SubagentStart", "SubagentStop"}) {
        expected["hooks"][event] = json::array({ourGroup});
    }
    EXPECT_EQ(json::parse(readFile(claudePath())), expected);
    EXPECT_EQ(setup.isInstalled("claude"), true);
    EXPECT_EQ(setup.hooksDisabledInClaudeSettings(), false);
    writeFile(claudePath(), R"({"disableAllHooks": true})");
    EXPECT_EQ(setup.hooksDisabledInClaudeSettings(), true);
    // Codex's hooks as the Codex release the samples came from accepts them.
    ASSERT_TRUE(setup.install("codex"));
    EXPECT_EQ(setup.isInstalled("codex"), true);
    EXPECT_EQ(json::parse(readFile(codexPath())),
              json::parse(readFile(VESPERON_AGENT_FIXTURES "/codex-0.169.0-hooks.json")));
}

TEST_F(AgentConnectionSetupTest, ForeignValuesSurviveOnceAndOurGroupComesLast) {
    writeFile(claudePath(), userSettings, 0644);
    ASSERT_TRUE(setup.install("claude"));
    const std::string text = readFile(claudePath());
    auto before = parseForeignJson(userSettings);
    auto after = parseForeignJson(text);
    ASSERT_TRUE(before && after);
    before->object()->erase("hooks");
    after->object()->erase("hooks");
    EXPECT_EQ(*after, *before) << "everything but the hooks, numbers by their very text";
    EXPECT_NE(text.find("123456789012345678901234567890"), std::string::npos);
    EXPECT_EQ(permissions(claudePath()), 0644);
    const json hooks = json::parse(text)["hooks"];
    const json user = json::parse(userSettings)["hooks"];
    json mixed = user["Stop"][1];
    mixed["hooks"].erase(0);
    EXPECT_EQ(hooks["Stop"], json::array({user["Stop"][0], mixed, ourGroup}));
    EXPECT_EQ(hooks["PreToolUse"], json::array({user["PreToolUse"][0], ourGroup}));

    // The previous content is kept in a private backup; a second install changes nothing.
    const Names files = entries(home / ".claude");
    ASSERT_EQ(files.size(), 2u);
    ASSERT_TRUE(files[1].starts_with("settings.json.vesperon-backup-"));
    EXPECT_EQ(readFile(home / ".claude/" + files[1]), userSettings);
    EXPECT_EQ(permissions(home / ".claude/" + files[1]), 0600);
    ASSERT_TRUE(setup.install("claude"));
    EXPECT_EQ(readFile(claudePath()), text);
    EXPECT_EQ(entries(home / ".claude"), files);
}

TEST_F(AgentConnectionSetupTest, SymbolicLinksAreRefused) {
    testing::TempFolder elsewhere;
    writeFile(elsewhere / "settings.json", "{}");
    std::filesystem::create_directories(home / ".claude");
    std::filesystem::create_symlink(elsewhere / "settings.json", claudePath());
    EXPECT_EQ(message(setup.install("claude")), linked);
    EXPECT_EQ(setup.hooksDisabledInClaudeSettings().error().message, linked);
    // A link to a folder that does not exist yet would be created through.
    std::filesystem::create_directories(home / ".config");
    std::filesystem::create_directory_symlink(elsewhere / "missing", home / ".config/opencode");
    EXPECT_EQ(message(setup.install("opencode")), linked);
    EXPECT_EQ(entries(elsewhere.path()), Names{"settings.json"});
    EXPECT_EQ(readFile(elsewhere / "settings.json"), "{}");
    std::filesystem::create_directory_symlink(home.path(), elsewhere / "home");
    EXPECT_EQ(message(AgentConnectionSetup(exe, elsewhere / "home").install("codex")), linked)
        << "home is a link";
}

TEST_F(AgentConnectionSetupTest, OversizedAndMalformedSettingsAreRefusedAndLeftAlone) {
    // Within the limit before, beyond it once our hooks are added.
    const std::string nearlyFull =
        "{\"big\": \"" + std::string(AgentConnectionSetup::defaultMaximumBytes - 200, 'x') + "\"}";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {nearlyFull, "The updated configuration is too large to modify safely."},
        {R"([1, 2])", "The existing agent configuration must be a JSON object."},
        {R"({"hooks": {"Stop": [{"matcher": "x"}]}})", "Existing Stop handlers are invalid."},
        {"{\"a\": 1,}", claudePath()},
    };
    for (const auto& [text, expected] : cases) {
        writeFile(claudePath(), text);
        const std::string error = message(setup.install("claude"));
        EXPECT_NE(error.find(expected), std::string::npos) << text.substr(0, 60) << ": " << error;
        EXPECT_EQ(readFile(claudePath()), text);
        EXPECT_EQ(entries(home / ".claude"), Names{"settings.json"});
    }
}

} // namespace
} // namespace vesperon
