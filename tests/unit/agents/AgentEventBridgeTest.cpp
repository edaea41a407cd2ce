#include "agents/AgentEventBridge.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "AgentEventTestFolder.hpp"
#include "agents/AgentEventFiles.hpp"
#include "agents/AgentTrackingRun.hpp"
#include "common/Uuid.hpp"

namespace vesperon {
namespace {

using nlohmann::json;
using testing::entries;
using testing::exists;
using testing::permissions;
using testing::readFile;
using testing::TempFolder;
using testing::wallClock;
using testing::writeFile;

// ---------------------------------------------------------------------------
// normalize

struct NormalizeCase {
    const char* provider;
    const char* payload;
    std::optional<AgentSessionState> expected;
};

std::optional<AgentSessionState> state(const char* session, const char* value) {
    return AgentSessionState{session, value};
}

void expectCases(const std::vector<NormalizeCase>& cases) {
    for (const NormalizeCase& c : cases) {
        const json payload = json::parse(c.payload);
        EXPECT_EQ(AgentEventBridge::normalize(c.provider, payload), c.expected)
            << c.provider << " " << c.payload;
    }
}

TEST(AgentEventNormalize, ClaudeHookEvents) {
    expectCases({
        {"claude", R"({"session_id":"s1","hook_event_name":"UserPromptSubmit"})",
         state("s1", "busy")},
        {"claude", R"({"session_id":"s1","hook_event_name":"PostToolUse"})", state("s1", "busy")},
        {"claude", R"({"session_id":"s1","hook_event_name":"PreToolUse","tool_name":"Bash"})",
         state("s1", "busy")},
        {"claude",
         R"({"session_id":"s1","hook_event_name":"PreToolUse","tool_name":"AskUserQuestion"})",
         state("s1", "waiting")},
        {"claude", R"({"session_id":"s1","hook_event_name":"PermissionRequest"})",
         state("s1", "waiting")},
        {"claude",
         R"({"session_id":"s1","hook_event_name":"Notification","notification_type":"permission_prompt"})",
         state("s1", "waiting")},
        {"claude",
         R"({"session_id":"s1","hook_event_name":"Notification","notification_type":"elicitation_dialog"})",
         state("s1", "waiting")},
        {"claude",
         R"({"session_id":"s1","hook_event_name":"Notification","notification_type":"elicitation_url"})",
         state("s1", "waiting")},
        {"claude",
         R"({"session_id":"s1","hook_event_name":"Notification","notification_type":"idle_prompt"})",
         state("s1", "idle")},
        {"claude", R"({"session_id":"s1","hook_event_name":"Notification"})", std::nullopt},
        {"claude", R"({"session_id":"s1","hook_event_name":"StopFailure"})", state("s1", "failed")},
        {"claude", R"({"session_id":"s1","hook_event_name":"Interrupt"})", state("s1", "ended")},
        {"claude", R"({"session_id":"s1","hook_event_name":"SessionEnd"})", state("s1", "ended")},
        {"claude", R"({"session_id":"s1","hook_event_name":"SessionStart"})", std::nullopt},
        {"claude", R"({"session_id":"s1"})", std::nullopt},
    });
}

TEST(AgentEventNormalize, StopIsIdleOnlyWithoutPendingBackgroundWork) {
    expectCases({
        {"claude", R"({"session_id":"s","hook_event_name":"Stop"})", state("s", "idle")},
        {"claude", R"({"session_id":"s","hook_event_name":"Stop","background_tasks":[]})",
         state("s", "idle")},
        {"claude",
         R"({"session_id":"s","hook_event_name":"Stop","background_tasks":[],"session_crons":[]})",
         state("s", "idle")},
        {"claude", R"({"session_id":"s","hook_event_name":"Stop","background_tasks":["x"]})",
         state("s", "busy")},
        {"claude", R"({"session_id":"s","hook_event_name":"Stop","session_crons":null})",
         state("s", "busy")},
        {"claude", R"({"session_id":"s","hook_event_name":"Stop","session_crons":{}})",
         state("s", "busy")},
        {"codex", R"({"session_id":"s","hook_event_name":"Stop","background_tasks":0})",
         state("s", "busy")},
    });
}

TEST(AgentEventNormalize, SubagentsAreSessionsOfTheirOwn) {
    expectCases({
        {"claude", R"({"session_id":"s1","hook_event_name":"SubagentStart","agent_id":"a7"})",
         state("s1:sub:a7", "busy")},
        {"claude", R"({"session_id":"s1","hook_event_name":"SubagentStop","agent_id":"a7"})",
         state("s1:sub:a7", "idle")},
        {"claude", R"({"session_id":"s1","hook_event_name":"SubagentStart"})", std::nullopt},
        {"claude", R"({"session_id":"s1","hook_event_name":"SubagentStart","agent_id":7})",
         std::nullopt},
        {"claude", R"({"session_id":"s1","hook_event_name":"SubagentStart","agent_id":"a b"})",
         std::nullopt},
        {"claude", R"({"hook_event_name":"SubagentStart","agent_id":"a7"})", std::nullopt},
    });
    // The combined identifier must itself pass the rule: 150 + 5 + 6 bytes is too long.
    const json payload = {{"session_id", std::string(150, 's')},
                          {"hook_event_name", "SubagentStart"},
                          {"agent_id", "agent6"}};
    EXPECT_FALSE(AgentEventBridge::normalize("claude", payload));
    const json shorter = {{"session_id", std::string(149, 's')},
                          {"hook_event_name", "SubagentStart"},
                          {"agent_id", "agent6"}};
    EXPECT_EQ(AgentEventBridge::normalize("claude", shorter),
              state((std::string(149, 's') + ":sub:agent6").c_str(), "busy"));
}

TEST(AgentEventNormalize, CodexTurnCompleteAndNotificationRules) {
    expectCases({
        {"codex", R"({"type":"agent-turn-complete","thread-id":"t-1"})", state("t-1", "idle")},
        {"codex", R"({"type":"agent-turn-complete","session_id":"s","thread-id":"t-1"})",
         state("s", "idle")},
        {"codex", R"({"type":"agent-turn-complete"})", std::nullopt},
        {"claude", R"({"type":"agent-turn-complete","thread-id":"t-1"})", std::nullopt},
        {"codex",
         R"({"session_id":"s","hook_event_name":"Notification","notification_type":"idle_prompt"})",
         std::nullopt},
        {"codex", R"({"session_id":"s","hook_event_name":"PreToolUse"})", state("s", "busy")},
    });
}

TEST(AgentEventNormalize, OpenCodeEventsUseTheirOwnRulesOnly) {
    expectCases({
        {"opencode",
         R"({"type":"session.status","properties":{"sessionID":"ses_1","status":{"type":"busy"}}})",
         state("ses_1", "busy")},
        {"opencode",
         R"({"type":"session.status","properties":{"sessionID":"ses_1","status":{"type":"retry"}}})",
         state("ses_1", "busy")},
        {"opencode",
         R"({"type":"session.status","properties":{"sessionID":"ses_1","status":{"type":"idle"}}})",
         state("ses_1", "idle")},
        {"opencode",
         R"({"type":"session.status","properties":{"sessionID":"ses_1","status":{"type":"other"}}})",
         std::nullopt},
        {"opencode",
         R"({"type":"session.status","properties":{"sessionID":"ses_1","status":"busy"}})",
         std::nullopt},
        {"opencode", R"({"type":"session.idle","properties":{"sessionID":"ses_1"}})",
         state("ses_1", "idle")},
        {"opencode", R"({"type":"session.error","properties":{"sessionID":"ses_1"}})",
         state("ses_1", "failed")},
        {"opencode", R"({"type":"permission.asked","properties":{"sessionID":"p"}})",
         state("p", "waiting")},
        {"opencode", R"({"type":"permission.v2.asked","properties":{"sessionID":"p"}})",
         state("p", "waiting")},
        {"opencode", R"({"type":"permission.updated","properties":{"sessionID":"p"}})",
         state("p", "waiting")},
        {"opencode", R"({"type":"question.asked","properties":{"sessionID":"p"}})",
         state("p", "waiting")},
        {"opencode", R"({"type":"question.v2.asked","properties":{"sessionID":"p"}})",
         state("p", "waiting")},
        {"opencode", R"({"type":"permission.replied","properties":{"sessionID":"p"}})",
         state("p", "busy")},
        {"opencode", R"({"type":"permission.v2.replied","properties":{"sessionID":"p"}})",
         state("p", "busy")},
        {"opencode", R"({"type":"question.replied","properties":{"sessionID":"p"}})",
         state("p", "busy")},
        {"opencode", R"({"type":"question.rejected","properties":{"sessionID":"p"}})",
         state("p", "busy")},
        {"opencode", R"({"type":"question.v2.replied","properties":{"sessionID":"p"}})",
         state("p", "busy")},
        {"opencode", R"({"type":"question.v2.rejected","properties":{"sessionID":"p"}})",
         state("p", "busy")},
        // A top-level session identifier wins over the one in "properties".
        {"opencode",
         R"({"type":"session.idle","session_id":"top","properties":{"sessionID":"inner"}})",
         state("top", "idle")},
        {"opencode", R"({"type":"session.idle"})", std::nullopt},
        {"opencode", R"({"type":"session.idle","properties":[]})", std::nullopt},
        // Plain states and hook names are not OpenCode events.
        {"opencode", R"({"type":"busy","properties":{"sessionID":"s1"}})", std::nullopt},
        {"opencode", R"({"hook_event_name":"UserPromptSubmit","properties":{"sessionID":"s1"}})",
         std::nullopt},
        {"terminal", R"({"type":"busy","session_id":"s1","properties":{"sessionID":"s1"}})",
         state("s1", "busy")},
    });
}

TEST(AgentEventNormalize, SessionIdentifierRule) {
    const std::string longest(160, 'a');
    const std::string tooLong(161, 'a');
    for (const std::string& good : {std::string("a"), std::string("A-z.0:9_"), longest}) {
        EXPECT_TRUE(AgentTrackingRun::validSessionID(good)) << good;
        const json payload = {{"session_id", good}, {"type", "busy"}};
        EXPECT_EQ(AgentEventBridge::normalize("terminal", payload), state(good.c_str(), "busy"));
    }
    for (const std::string& bad :
         {std::string(), tooLong, std::string("a/b"), std::string("a b"),
          std::string("caf\xc3\xa9"), std::string("a\nb"), std::string("..\\x")}) {
        EXPECT_FALSE(AgentTrackingRun::validSessionID(bad)) << bad;
        const json payload = {{"session_id", bad}, {"type", "busy"}};
        EXPECT_FALSE(AgentEventBridge::normalize("terminal", payload)) << bad;
    }
}

TEST(AgentEventNormalize, RecordedAgentPayloads) {
    // As recorded from Claude Code and OpenCode (paths shortened).
    expectCases({
        {"claude",
         R"({"session_id":"d06897dc-3ef2-468b-9865-e8b46574ef82","cwd":"/home/user/work","prompt_id":"f9fae107","permission_mode":"default","hook_event_name":"UserPromptSubmit","prompt":"hello"})",
         state("d06897dc-3ef2-468b-9865-e8b46574ef82", "busy")},
        {"claude",
         R"({"session_id":"d06897dc-3ef2-468b-9865-e8b46574ef82","effort":{"level":"medium"},"hook_event_name":"StopFailure","error":"authentication_failed","last_assistant_message":"Not logged in \u00b7 Please run /login"})",
         state("d06897dc-3ef2-468b-9865-e8b46574ef82", "failed")},
        {"opencode",
         R"({"id":"evt_24c325d3b001b4JR2MIFS5XwiH","type":"session.error","properties":{"sessionID":"ses_db3cda625ffe6ZVt7iWl1RR9aG","error":{"name":"UnknownError","data":{"message":"Model not found"}}}})",
         state("ses_db3cda625ffe6ZVt7iWl1RR9aG", "failed")},
    });
    EXPECT_FALSE(AgentEventBridge::normalize("claude", json::array({1, 2})));
    EXPECT_FALSE(AgentEventBridge::normalize("claude", json("busy")));
}

// ---------------------------------------------------------------------------
// emit

class AgentEventEmit : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = folder_.path() + "/events";
        runID_ = newUuidText();
        mkdir(root_.c_str(), 0700);
        mkdir(runFolder().c_str(), 0700);
        writeDescriptor(
            {{"runID", runID_}, {"startedAt", wallClock() - 1}, {"ownerPID", getpid()}});
    }

    std::string runFolder() const { return root_ + "/" + runID_; }
    std::string descriptorPath() const { return root_ + "/current.json"; }
    void writeDescriptor(const json& descriptor, mode_t mode = 0600) {
        writeFile(descriptorPath(), descriptor.dump(), mode);
    }
    bool
    emit(const std::string& payload = R"({"session_id":"s1","hook_event_name":"UserPromptSubmit"})",
         const std::string& provider = "claude") {
        return AgentEventBridge::emit(provider, payload, root_);
    }
    std::vector<std::string> events() const { return entries(runFolder()); }

    TempFolder folder_;
    std::string root_;
    std::string runID_;
};

TEST_F(AgentEventEmit, PublishesOnePrivateEventFileWithExactlyFiveKeys) {
    const double before = wallClock();
    ASSERT_TRUE(
        emit(R"({"session_id":"s1","hook_event_name":"PreToolUse","tool_name":"Bash"})", "codex"));
    const double after = wallClock();
    const std::vector<std::string> names = events();
    ASSERT_EQ(names.size(), 1u);
    const std::string& name = names[0];
    ASSERT_EQ(name.size(), 41u);
    EXPECT_EQ(name.substr(36), ".json");
    const auto uuid = Uuid::parse(name.substr(0, 36));
    ASSERT_TRUE(uuid);
    EXPECT_EQ(uuid->text(), name.substr(0, 36)) << "base name is upper case";
    EXPECT_EQ(permissions(runFolder() + "/" + name), 0600);

    const std::string text = readFile(runFolder() + "/" + name);
    EXPECT_EQ(text.find('\n'), std::string::npos) << "compact JSON";
    const json event = json::parse(text);
    ASSERT_TRUE(event.is_object());
    EXPECT_EQ(event.size(), 5u);
    EXPECT_EQ(event["runID"], runID_);
    EXPECT_EQ(event["provider"], "codex");
    EXPECT_EQ(event["sessionID"], "s1");
    EXPECT_EQ(event["state"], "busy");
    ASSERT_TRUE(event["timestamp"].is_number_float());
    EXPECT_GE(event["timestamp"].get<double>(), before);
    EXPECT_LE(event["timestamp"].get<double>(), after);
}

TEST_F(AgentEventEmit, NothingIsWrittenWithoutAnArmedRun) {
    std::filesystem::remove(descriptorPath());
    EXPECT_FALSE(emit());
    EXPECT_TRUE(events().empty());

    std::filesystem::remove_all(root_);
    EXPECT_FALSE(emit());
    EXPECT_FALSE(exists(root_)) << "the bridge never creates folders";
}

TEST_F(AgentEventEmit, UnsupportedProvidersAndUnusablePayloadsWriteNothing) {
    EXPECT_FALSE(emit(R"({"session_id":"s1","type":"busy"})", "Claude"));
    EXPECT_FALSE(emit(R"({"session_id":"s1","type":"busy"})", ""));
    EXPECT_FALSE(emit(R"({"session_id":"s1","type":"busy"})", "gemini"));
    EXPECT_FALSE(emit(R"([{"session_id":"s1","type":"busy"}])"));
    EXPECT_FALSE(emit(""));
    EXPECT_FALSE(emit("not json"));
    EXPECT_FALSE(emit(R"({"session_id":"s1","type":"busy")"));
    EXPECT_FALSE(emit("{\"session_id\":\"s1\",\"type\":\"busy\",\"x\":\"\xff\xfe\"}"));
    EXPECT_FALSE(emit("{\"session_id\":\"s1\",\"type\":\"busy\",\"x\":\"\xed\xa0\x80\"}"));
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_FALSE(emit(R"({"session_id":"s1","type":"busy","x":)" + deep + "}"));
    EXPECT_FALSE(emit(R"({"session_id":"s/1","type":"busy"})", "terminal"));
    EXPECT_TRUE(events().empty());
    // Moderate nesting in a foreign member is fine.
    const std::string nested = std::string(100, '[') + std::string(100, ']');
    EXPECT_TRUE(emit(R"({"session_id":"s1","type":"busy","x":)" + nested + "}", "terminal"));
}

TEST_F(AgentEventEmit, PayloadSizeLimitIsInclusive) {
    const std::string head = R"({"session_id":"s1","type":"busy"})";
    std::string exact = head;
    exact.insert(1, AgentEventFiles::payloadMaximum - head.size(), ' ');
    ASSERT_EQ(exact.size(), 131072u);
    EXPECT_TRUE(emit(exact, "terminal"));
    std::string over = exact;
    over.insert(1, " ");
    EXPECT_FALSE(emit(over, "terminal"));
    EXPECT_EQ(events().size(), 1u);
}

TEST_F(AgentEventEmit, DescriptorMustBeAPrivateRegularFileOfTheUser) {
    const std::string good = readFile(descriptorPath());
    const std::string elsewhere = folder_.path() + "/elsewhere.json";
    writeFile(elsewhere, good);

    std::filesystem::remove(descriptorPath());
    std::filesystem::create_symlink(elsewhere, descriptorPath());
    EXPECT_FALSE(emit()) << "symbolic link";

    std::filesystem::remove(descriptorPath());
    writeFile(descriptorPath(), good, 0640);
    EXPECT_FALSE(emit()) << "group-readable";
    writeFile(descriptorPath(), good, 0604);
    EXPECT_FALSE(emit()) << "readable by others";

    writeFile(descriptorPath(), "", 0600);
    EXPECT_FALSE(emit()) << "empty";

    std::filesystem::remove(descriptorPath());
    mkdir(descriptorPath().c_str(), 0700);
    EXPECT_FALSE(emit()) << "a folder";
    std::filesystem::remove(descriptorPath());
    mkfifo(descriptorPath().c_str(), 0600);
    EXPECT_FALSE(emit()) << "a pipe must not block";
    std::filesystem::remove(descriptorPath());

    std::string padded = good;
    padded.insert(1, AgentEventFiles::descriptorMaximum - good.size(), ' ');
    writeFile(descriptorPath(), padded);
    EXPECT_TRUE(emit()) << "exactly 1,024 bytes";
    writeFile(descriptorPath(), " " + padded);
    EXPECT_FALSE(emit()) << "1,025 bytes";
    EXPECT_EQ(events().size(), 1u);
}

TEST_F(AgentEventEmit, DescriptorContentsAreCheckedStrictly) {
    const double now = wallClock();
    const json valid = {{"runID", runID_}, {"startedAt", now - 1}, {"ownerPID", getpid()}};
    auto with = [&](const char* key, json value) {
        json changed = valid;
        changed[key] = std::move(value);
        return changed;
    };
    const std::vector<std::pair<std::string, json>> refused = {
        {"fourth key", with("extra", 1)},
        {"missing key", json{{"runID", runID_}, {"startedAt", now}}},
        {"not an object", json::array({runID_, now, getpid()})},
        {"ownerPID true", with("ownerPID", true)},
        {"ownerPID 0", with("ownerPID", 0)},
        {"ownerPID -5", with("ownerPID", -5)},
        {"ownerPID 12.5", with("ownerPID", 12.5)},
        {"ownerPID text", with("ownerPID", std::to_string(getpid()))},
        {"ownerPID beyond 32 bits", with("ownerPID", 4294967296.0 + getpid())},
        {"ownerPID exited", with("ownerPID", testing::exitedProcessID())},
        {"startedAt 6 s ahead", with("startedAt", now + 6)},
        {"startedAt true", with("startedAt", true)},
        {"startedAt text", with("startedAt", "0")},
        {"startedAt null", with("startedAt", nullptr)},
        {"runID lower-level path", with("runID", "../" + runID_.substr(3))},
        {"runID not a UUID", with("runID", "run-1")},
        {"runID number", with("runID", 5)},
    };
    for (const auto& [what, descriptor] : refused) {
        writeDescriptor(descriptor);
        EXPECT_FALSE(emit()) << what;
    }
    EXPECT_TRUE(events().empty());

    writeDescriptor(with("startedAt", now + 4));
    EXPECT_TRUE(emit()) << "4 s ahead is tolerated";
    writeDescriptor(with("ownerPID", static_cast<double>(getpid())));
    EXPECT_TRUE(emit()) << "an integral floating-point pid";
    EXPECT_EQ(events().size(), 2u);
}

TEST_F(AgentEventEmit, FoldersMustBePrivateAndReal) {
    chmod(runFolder().c_str(), 0755);
    EXPECT_FALSE(emit()) << "run folder 0755";
    chmod(runFolder().c_str(), 0700);

    chmod(root_.c_str(), 0750);
    EXPECT_FALSE(emit()) << "event folder 0750";
    chmod(root_.c_str(), 0700);
    EXPECT_TRUE(AgentEventBridge::privateDirectory(root_));

    // A run folder that is a link to a private folder elsewhere.
    const std::string real = folder_.path() + "/real-run";
    std::filesystem::rename(runFolder(), real);
    std::filesystem::create_directory_symlink(real, runFolder());
    EXPECT_FALSE(AgentEventBridge::privateDirectory(runFolder()));
    EXPECT_FALSE(emit()) << "run folder is a symbolic link";
    EXPECT_TRUE(entries(real).empty());
    std::filesystem::remove(runFolder());

    std::filesystem::remove_all(runFolder());
    EXPECT_FALSE(emit()) << "run folder missing";

    // An event folder reached through a link.
    mkdir(runFolder().c_str(), 0700);
    const std::string link = folder_.path() + "/events-link";
    std::filesystem::create_directory_symlink(root_, link);
    EXPECT_FALSE(AgentEventBridge::emit("claude", R"({"session_id":"s","type":"busy"})", link));
    EXPECT_TRUE(AgentEventBridge::emit("claude", R"({"session_id":"s","type":"busy"})", root_));
}

} // namespace
} // namespace vesperon
