#include "agents/AgentConnectionSetup.hpp"

#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include "TestFiles.hpp"
#include "agents/ForeignJson.hpp"

namespace vesperon {
namespace {

using testing::entriesOf;
using testing::modeOf;
using testing::readFile;
using testing::TempFolder;
using testing::writeText;

constexpr const char* exe = "/Applications/Vesperon.app/Contents/MacOS/Vesperon";
constexpr const char* claudeCommand = "'/Applications/Vesperon.app/Contents/MacOS/Vesperon' "
                                      "--agent-event claude";
const std::vector<std::string> claudeEvents = {
    "UserPromptSubmit", "PreToolUse", "PostToolUse",   "PermissionRequest", "Notification", "Stop",
    "StopFailure",      "SessionEnd", "SubagentStart", "SubagentStop"};

// A settings file as a user might have it: foreign keys, foreign hooks (one group
// mixing a foreign handler with ours from an earlier install, one with an older
// path of this executable) and values that naive JSON handling would change.
const std::string userSettings = R"json({
  "model": "opus", "env": {"PATH_EXTRA": "/opt/tools/bin", "NOTE": "caf\u00e9 ☕ \ud83d\ude80"},
  "limits": {"huge": 123456789012345678901234567890, "one": 1.0, "far": 1e300,
             "tiny": -0.0, "list": [1.50, 2E-3, null, true, false, {}, []]},
  "permissions": {"allow": ["Bash(git diff:*)", "Read(~/src/**)"]},
  "hooks": {
    "Stop": [
      {"matcher": "", "hooks": [{"type": "command", "command": "notify-send done"}]},
      {"hooks": [{"type": "command", "command": "'/Applications/Vesperon.app/Contents/MacOS/Vesperon' --agent-event claude", "timeout": 5},
                 {"type": "command", "command": "say stop", "timeout": 9}]}
    ],
    "PreToolUse": [
      {"matcher": "Bash", "hooks": [{"type": "command", "command": "'/Old/Vesperon' --agent-event claude"}]},
      {"hooks": [{"type": "command", "command": "'/Applications/Vesperon.app/Contents/MacOS/Vesperon' --agent-event claude", "timeout": 5}]}
    ],
    "SessionStart": [{"hooks": [{"type": "command", "command": "echo hi"}]}]
  }
})json";

class AgentConnectionSetupTest : public ::testing::Test {
  protected:
    TempFolder home;
    AgentConnectionSetup setup{exe, home.path()};

    std::string claudePath() const { return home / ".claude/settings.json"; }
    std::string codexPath() const { return home / ".codex/hooks.json"; }
    std::string pluginPath() const { return home / ".config/opencode/plugins/vesperon.js"; }

    static nlohmann::json parsed(const std::string& path) {
        return nlohmann::json::parse(readFile(path));
    }
    // Files in `folder` whose names start with `prefix`.
    static std::vector<std::string> named(const std::string& folder, const std::string& prefix) {
        std::vector<std::string> found;
        for (const auto& name : entriesOf(folder)) {
            if (name.starts_with(prefix)) {
                found.push_back(folder + "/" + name);
            }
        }
        return found;
    }
    static std::string message(const Result<std::string>& result) {
        return result ? std::string("(success)") : result.error().message;
    }
};

nlohmann::json ourGroup(const std::string& command, int timeout) {
    return {{"hooks", {{{"type", "command"}, {"command", command}, {"timeout", timeout}}}}};
}

TEST_F(AgentConnectionSetupTest, FirstClaudeInstallCreatesAPrivateFolderAndOnlyOurHooks) {
    EXPECT_EQ(setup.isInstalled("claude"), false);
    const auto written = setup.install("claude");
    ASSERT_TRUE(written) << written.error().message;
    EXPECT_EQ(*written, claudePath());
    EXPECT_EQ(modeOf(home / ".claude"), 0700u);
    EXPECT_EQ(modeOf(claudePath()), 0600u);
    EXPECT_EQ(entriesOf(home / ".claude"), std::set<std::string>{"settings.json"});

    const std::string text = readFile(claudePath());
    EXPECT_TRUE(text.ends_with("}\n"));
    const auto settings = nlohmann::json::parse(text);
    ASSERT_EQ(settings.size(), 1u);
    ASSERT_EQ(settings["hooks"].size(), claudeEvents.size());
    for (const auto& event : claudeEvents) {
        EXPECT_EQ(settings["hooks"][event], nlohmann::json::array({ourGroup(claudeCommand, 5)}))
            << event;
    }
    EXPECT_EQ(setup.isInstalled("claude"), true);
    EXPECT_EQ(setup.isInstalled("codex"), false);
}

TEST_F(AgentConnectionSetupTest, EveryForeignValueSurvivesAndOurGroupComesLast) {
    writeText(claudePath(), userSettings);
    ASSERT_EQ(::chmod(claudePath().c_str(), 0644), 0);
    const auto before = parseForeignJson(userSettings);
    ASSERT_TRUE(before);

    ASSERT_TRUE(setup.install("claude"));
    const std::string text = readFile(claudePath());
    const auto after = parseForeignJson(text);
    ASSERT_TRUE(after);

    // Everything but "hooks" is exactly as it was, numbers by their very text.
    auto withoutHooks = [](ForeignJson value) {
        value.object()->erase("hooks");
        return value;
    };
    EXPECT_EQ(withoutHooks(*after), withoutHooks(*before));
    for (const char* verbatim :
         {"123456789012345678901234567890", "\"one\": 1.0", "1e300", "-0.0", "1.50", "2E-3",
          "\"/opt/tools/bin\"", "Read(~/src/**)", "café ☕ 🚀"}) {
        EXPECT_NE(text.find(verbatim), std::string::npos) << verbatim;
    }
    EXPECT_EQ(text.find("\\/"), std::string::npos);
    EXPECT_EQ(modeOf(claudePath()), 0644u);

    const auto hooks = nlohmann::json::parse(text)["hooks"];
    // Stop: the foreign group untouched, the mixed group without our old handler,
    // then our group.
    auto expectedStop = nlohmann::json::parse(R"([
        {"matcher": "", "hooks": [{"type": "command", "command": "notify-send done"}]},
        {"hooks": [{"type": "command", "command": "say stop", "timeout": 9}]}
    ])");
    expectedStop.push_back(ourGroup(claudeCommand, 5));
    EXPECT_EQ(hooks["Stop"], expectedStop);
    // PreToolUse: the old path's handler stays, the group that held only ours is gone.
    EXPECT_EQ(hooks["PreToolUse"],
              nlohmann::json::array(
                  {nlohmann::json::parse(R"({"matcher": "Bash", "hooks": [{"type": "command",
                      "command": "'/Old/Vesperon' --agent-event claude"}]})"),
                   ourGroup(claudeCommand, 5)}));
    EXPECT_EQ(hooks["SessionStart"],
              nlohmann::json::parse(R"([{"hooks": [{"type": "command", "command": "echo hi"}]}])"));

    // The previous content is kept in a private backup next to the file.
    const auto backups = named(home / ".claude", "settings.json.vesperon-backup-");
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(readFile(backups[0]), userSettings);
    EXPECT_EQ(modeOf(backups[0]), 0600u);
    EXPECT_TRUE(named(home / ".claude", ".vesperon-write-").empty());
}

TEST_F(AgentConnectionSetupTest, InstallingTwiceWritesNothingTheSecondTime) {
    writeText(claudePath(), userSettings);
    ASSERT_TRUE(setup.install("claude"));
    const std::string first = readFile(claudePath());
    struct stat before {};
    ASSERT_EQ(::stat(claudePath().c_str(), &before), 0);
    const auto entries = entriesOf(home / ".claude");

    const auto again = setup.install("claude");
    ASSERT_TRUE(again) << again.error().message;
    struct stat after {};
    ASSERT_EQ(::stat(claudePath().c_str(), &after), 0);
    EXPECT_EQ(readFile(claudePath()), first);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(entriesOf(home / ".claude"), entries); // no second backup

    const auto hooks = nlohmann::json::parse(first)["hooks"];
    for (const auto& event : claudeEvents) {
        int ours = 0;
        for (const auto& group : hooks[event]) {
            for (const auto& handler : group["hooks"]) {
                ours += handler.value("command", "") == claudeCommand ? 1 : 0;
            }
        }
        EXPECT_EQ(ours, 1) << event;
    }
}

TEST_F(AgentConnectionSetupTest, AnAgentRewritingItsFileWinsAndNothingIsLeftBehind) {
    for (const auto point : {GuardedConfigFile::Checkpoint::beforeFirstRecheck,
                             GuardedConfigFile::Checkpoint::beforeFinalRecheck}) {
        writeText(claudePath(), userSettings);
        const std::string agentVersion = R"({"model": "sonnet"})";
        setup.setCheckpointHook([&](GuardedConfigFile::Checkpoint reached) {
            if (reached == point) {
                writeText(claudePath(), agentVersion);
            }
        });
        EXPECT_EQ(message(setup.install("claude")),
                  "Agent settings changed while connecting. Try again.");
        EXPECT_EQ(readFile(claudePath()), agentVersion);
        EXPECT_TRUE(named(home / ".claude", ".vesperon-write-").empty());
    }
    // The agent removing the file counts as a change too.
    writeText(claudePath(), userSettings);
    setup.setCheckpointHook(
        [&](GuardedConfigFile::Checkpoint) { std::remove(claudePath().c_str()); });
    EXPECT_EQ(message(setup.install("claude")),
              "Agent settings changed while connecting. Try again.");
    EXPECT_FALSE(std::filesystem::exists(claudePath()));
    // And so does the agent creating it where there was none.
    setup.setCheckpointHook([&](GuardedConfigFile::Checkpoint) { writeText(codexPath(), "{}"); });
    EXPECT_EQ(message(setup.install("codex")),
              "Agent settings changed while connecting. Try again.");
    EXPECT_EQ(readFile(codexPath()), "{}");
}

TEST_F(AgentConnectionSetupTest, PermissionsOfTheReplacedFileAreKept) {
    for (const unsigned mode : {0644u, 0640u, 0600u, 0444u}) {
        writeText(codexPath(), R"({"hooks": {}})");
        ASSERT_EQ(::chmod(codexPath().c_str(), mode), 0);
        ASSERT_TRUE(setup.install("codex"));
        EXPECT_EQ(modeOf(codexPath()), mode);
        std::filesystem::remove(codexPath());
    }
    ASSERT_TRUE(setup.install("codex"));
    EXPECT_EQ(modeOf(codexPath()), 0600u);
}

TEST_F(AgentConnectionSetupTest, SymbolicLinksAnywhereOnThePathAreRefused) {
    const std::string refused =
        "Configuration paths must contain regular files and folders, without symbolic links.";
    TempFolder elsewhere;
    writeText(elsewhere / "settings.json", "{}");

    // The settings file is a link.
    std::filesystem::create_directories(home / ".claude");
    std::filesystem::create_symlink(elsewhere / "settings.json", claudePath());
    EXPECT_EQ(message(setup.install("claude")), refused);
    EXPECT_EQ(setup.isInstalled("claude").error().message, refused);
    EXPECT_EQ(setup.hooksDisabledInClaudeSettings().error().message, refused);
    // A folder on the way is a link.
    std::filesystem::create_directory_symlink(elsewhere.path(), home / ".codex");
    EXPECT_EQ(message(setup.install("codex")), refused);
    // A link to a folder that does not exist yet would be created through: refused too.
    std::filesystem::create_directories(home / ".config");
    std::filesystem::create_directory_symlink(elsewhere / "missing", home / ".config/opencode");
    EXPECT_EQ(message(setup.install("opencode")), refused);
    EXPECT_FALSE(std::filesystem::exists(elsewhere / "missing"));
    EXPECT_EQ(readFile(elsewhere / "settings.json"), "{}");
    EXPECT_EQ(entriesOf(elsewhere.path()), std::set<std::string>{"settings.json"});

    // The home folder itself is a link.
    std::filesystem::create_directory_symlink(home.path(), elsewhere / "home");
    AgentConnectionSetup linkedHome(exe, elsewhere / "home");
    EXPECT_EQ(message(linkedHome.install("codex")), refused);
}

TEST_F(AgentConnectionSetupTest, PathsOutsideTheHomeFolderAreRefused) {
    const GuardedConfigFile files(home.path(), 1024);
    const std::string outside = "Configuration is outside your home folder.";
    for (const std::string& path : {std::string("/etc/passwd"), home.path(), home.path() + "/",
                                    home.path() + "x/settings.json", home / "../escape.json",
                                    home / "a/./b.json", home / "a//b.json"}) {
        const auto result = files.read(path);
        ASSERT_FALSE(result) << path;
        EXPECT_EQ(result.error().message, outside) << path;
        EXPECT_EQ(result.error().domain, "Vesperon.AgentConnections");
    }
    EXPECT_TRUE(files.read(home / "absent/file.json"));
}

TEST_F(AgentConnectionSetupTest, SizeLimitsHoldForWhatIsReadAndWhatIsWritten) {
    writeText(claudePath(), "{\"big\": \"" + std::string(2 * 1024 * 1024, 'x') + "\"}");
    EXPECT_EQ(message(setup.install("claude")), "The configuration is too large to modify safely.");
    EXPECT_EQ(setup.isInstalled("claude").error().message,
              "The configuration is too large to modify safely.");

    // Just within the limit before, beyond it once our hooks are added.
    const std::string nearlyFull =
        "{\"big\": \"" + std::string(AgentConnectionSetup::defaultMaximumBytes - 200, 'x') + "\"}";
    writeText(codexPath(), nearlyFull);
    EXPECT_EQ(message(setup.install("codex")),
              "The updated configuration is too large to modify safely.");
    EXPECT_EQ(readFile(codexPath()), nearlyFull);
    EXPECT_EQ(entriesOf(home / ".codex"), std::set<std::string>{"hooks.json"});
}

TEST_F(AgentConnectionSetupTest, MalformedSettingsAreRefusedAndLeftAlone) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"([1, 2])", "The existing agent configuration must be a JSON object."},
        {R"("text")", "The existing agent configuration must be a JSON object."},
        {R"({"hooks": []})", "The existing hooks configuration is invalid."},
        {R"({"hooks": null})", "The existing hooks configuration is invalid."},
        {R"({"hooks": {"Stop": {}}})", "Existing Stop hooks are invalid."},
        {R"({"hooks": {"Stop": [{"hooks": []}, 7]}})", "Existing Stop hooks are invalid."},
        {R"({"hooks": {"Stop": [{"matcher": "x"}]}})", "Existing Stop handlers are invalid."},
        {R"({"hooks": {"PreToolUse": [{"hooks": ["echo"]}]}})",
         "Existing PreToolUse handlers are invalid."},
        {R"({"hooks": {"Notification": [{"hooks": {}}]}})",
         "Existing Notification handlers are invalid."},
    };
    for (const auto& [text, expected] : cases) {
        writeText(claudePath(), text);
        const auto result = setup.install("claude");
        ASSERT_FALSE(result) << text;
        EXPECT_EQ(result.error().message, expected) << text;
        EXPECT_EQ(result.error().domain, "Vesperon.AgentConnections");
        EXPECT_EQ(result.error().code, 1);
        EXPECT_EQ(readFile(claudePath()), text);
        EXPECT_EQ(entriesOf(home / ".claude"), std::set<std::string>{"settings.json"});
    }
    for (const char* invalid : {"{\"a\": 1,}", "", "{\"a\": \"\xff\"}", "{} {}"}) {
        writeText(claudePath(), invalid);
        const auto result = setup.install("claude");
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().domain, "JSON");
        EXPECT_NE(result.error().message.find(claudePath()), std::string::npos);
        EXPECT_FALSE(setup.isInstalled("claude"));
        EXPECT_EQ(readFile(claudePath()), invalid);
    }
}

TEST_F(AgentConnectionSetupTest, IsInstalledLooksOnlyAtOurStopHandler) {
    const std::string codexCommand =
        "'/Applications/Vesperon.app/Contents/MacOS/Vesperon' --agent-event codex";
    const std::vector<std::pair<std::string, bool>> cases = {
        {R"([])", false},
        {R"({"hooks": []})", false},
        {R"({"hooks": {"Stop": {}}})", false},
        {R"({"hooks": {"Stop": [1]}})", false},
        {R"({"hooks": {"PreToolUse": [{"hooks": [{"type": "command", "command": ")" + codexCommand +
             R"("}]}]}})",
         false},
        {R"({"hooks": {"Stop": [{"hooks": [{"type": "script", "command": ")" + codexCommand +
             R"("}]}]}})",
         false},
        {R"({"hooks": {"Stop": [{"hooks": 3}, {"hooks": [{"type": "command", "command": ")" +
             codexCommand + R"("}]}]}})",
         true},
    };
    for (const auto& [text, expected] : cases) {
        writeText(codexPath(), text);
        const auto result = setup.isInstalled("codex");
        ASSERT_TRUE(result) << text;
        EXPECT_EQ(*result, expected) << text;
    }
}

TEST_F(AgentConnectionSetupTest, ClaudeHooksCanBeSwitchedOffAltogether) {
    EXPECT_EQ(setup.hooksDisabledInClaudeSettings(), false);
    const std::vector<std::pair<std::string, bool>> cases = {
        {R"({"disableAllHooks": true})", true},
        {R"({"disableAllHooks": false})", false},
        {R"({"disableAllHooks": "true"})", false},
        {R"({"disableAllHooks": 1})", false},
        {R"({})", false},
    };
    for (const auto& [text, expected] : cases) {
        writeText(claudePath(), text);
        EXPECT_EQ(setup.hooksDisabledInClaudeSettings(), expected) << text;
    }
    writeText(claudePath(), "[true]");
    EXPECT_EQ(setup.hooksDisabledInClaudeSettings().error().message,
              "Claude Code settings are not a JSON object.");
}

TEST_F(AgentConnectionSetupTest, OpenCodePluginIsInstalledOnlyOverOurOwn) {
    EXPECT_EQ(setup.isInstalled("opencode"), false);
    const auto written = setup.install("opencode");
    ASSERT_TRUE(written) << written.error().message;
    EXPECT_EQ(*written, pluginPath());
    const std::string script = readFile(pluginPath());
    EXPECT_TRUE(script.starts_with("// Vesperon agent adapter v1\n"));
    EXPECT_NE(script.find("\"/Applications/Vesperon.app/Contents/MacOS/Vesperon\""),
              std::string::npos);
    EXPECT_FALSE(script.ends_with("\n"));
    EXPECT_EQ(modeOf(home / ".config"), 0700u);
    EXPECT_EQ(setup.isInstalled("opencode"), true);

    // Ours from an older version is replaced (and backed up).
    writeText(pluginPath(), "// Vesperon agent adapter v1\nold");
    ASSERT_TRUE(setup.install("opencode"));
    EXPECT_EQ(readFile(pluginPath()), script);
    EXPECT_EQ(named(home / ".config/opencode/plugins", "vesperon.js.vesperon-backup-").size(), 1u);

    // Somebody else's file of the same name is left alone.
    writeText(pluginPath(), "export const Mine = 1;\n");
    EXPECT_EQ(message(setup.install("opencode")),
              "An existing vesperon.js is not a Vesperon adapter. Rename it before connecting.");
    EXPECT_EQ(readFile(pluginPath()), "export const Mine = 1;\n");
    EXPECT_EQ(setup.isInstalled("opencode"), false);
}

// The plugin really runs under Node: tracked events reach the executable's standard
// input as JSON, with "--agent-event opencode"; others never start it.
TEST_F(AgentConnectionSetupTest, OpenCodePluginDeliversTrackedEventsUnderNode) {
    if (::access("/usr/bin/node", X_OK) != 0) {
        GTEST_SKIP() << "node is not installed";
    }
    const std::string recorder = home / "bin/it's recorder";
    writeText(recorder,
              "#!/bin/sh\necho \"$@\" >> \"$0.args\"\ncat >> \"$0.input\"\necho >> \"$0.input\"\n");
    ASSERT_EQ(::chmod(recorder.c_str(), 0755), 0);
    const AgentConnectionSetup connected(recorder, home.path());
    ASSERT_TRUE(connected.install("opencode"));
    // Node needs the module extension to load the plugin as an ES module.
    std::filesystem::copy_file(pluginPath(), home / "plugin.mjs");
    writeText(home / "drive.mjs", R"js(import { Vesperon } from "./plugin.mjs";
const plugin = await Vesperon({});
await plugin.event({ event: { type: "message.updated", properties: {} } });
await plugin.event({});
await plugin.event({ event: { type: "session.idle", properties: { sessionID: "ses_1/ü" } } });
await plugin.event({ event: { type: "permission.asked", properties: { sessionID: "ses_1" } } });
)js");
    const std::string command = "cd '" + home.path() + "' && /usr/bin/node drive.mjs 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readFile(recorder + ".args"), "--agent-event opencode\n--agent-event opencode\n");
    EXPECT_EQ(readFile(recorder + ".input"),
              "{\"type\":\"session.idle\",\"properties\":{\"sessionID\":\"ses_1/ü\"}}\n"
              "{\"type\":\"permission.asked\",\"properties\":{\"sessionID\":\"ses_1\"}}\n");
}

} // namespace
} // namespace vesperon
