#include "agents/AgentEventBridge.hpp"

#include <sys/wait.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "AgentTestFiles.hpp"
#include "agents/AgentEventFiles.hpp"
#include "common/Uuid.hpp"

namespace vesperon {
namespace {

using nlohmann::json;
using testing::entries;
using testing::permissions;
using testing::readFile;
using testing::writeFile;

// "session state" as normalized, or "" for a payload that is not an event.
std::string normalized(const char* provider, const std::string& payload) {
    const auto state = AgentEventBridge::normalize(provider, json::parse(payload));
    return state ? state->sessionID + " " + state->state : "";
}

TEST(AgentEventNormalize, EachAgentsEventsMapToSessionStates) {
    const auto claude = [](const std::string& event, const std::string& extra = "") {
        return R"({"session_id":"s","hook_event_name":")" + event + "\"" + extra + "}";
    };
    const auto notice = [&](const char* type) {
        return claude("Notification", std::string(R"(,"notification_type":")") + type + "\"");
    };
    const auto open = [](const std::string& type, const std::string& properties) {
        return R"({"type":")" + type + R"(","properties":)" + properties + "}";
    };
    const auto status = [&](const char* type) {
        return open("session.status",
                    std::string(R"({"sessionID":"p","status":{"type":")") + type + "\"}}");
    };
    const auto terminal = [](const std::string& id) {
        return json{{"session_id", id}, {"type", "busy"}}.dump();
    };
    const auto subagent = [](std::size_t length) {
        return json{{"session_id", std::string(length, 's')},
                    {"hook_event_name", "SubagentStart"},
                    {"agent_id", "agent6"}}
            .dump();
    };
    const std::vector<std::tuple<const char*, std::string, std::string>> rows = {
        {"claude", claude("UserPromptSubmit"), "s busy"},
        {"claude", claude("PreToolUse", R"(,"tool_name":"Bash")"), "s busy"},
        {"claude", claude("PreToolUse", R"(,"tool_name":"AskUserQuestion")"), "s waiting"},
        {"claude", notice("permission_prompt"), "s waiting"},
        {"claude", notice("idle_prompt"), "s idle"},
        {"claude", claude("Notification"), ""},
        {"claude", claude("StopFailure"), "s failed"},
        {"claude", claude("SessionEnd"), "s ended"},
        {"claude", claude("Stop"), "s idle"},
        {"claude", claude("Stop", R"(,"background_tasks":["x"])"), "s busy"},
        {"claude", claude("Stop", R"(,"session_crons":null)"), "s busy"},
        {"claude", claude("SubagentStart", R"(,"agent_id":"a7")"), "s:sub:a7 busy"},
        {"claude", claude("SubagentStop", R"(,"agent_id":"a7")"), "s:sub:a7 idle"},
        {"claude", claude("SubagentStart", R"(,"agent_id":"a b")"), ""},
        {"claude", R"({"type":"agent-turn-complete","thread-id":"t"})", ""},
        {"codex", R"({"type":"agent-turn-complete","thread-id":"t"})", "t idle"},
        {"codex", notice("idle_prompt"), ""},
        {"codex", claude("PreToolUse"), "s busy"},
        {"opencode", status("busy"), "p busy"},
        {"opencode", status("other"), ""},
        {"opencode", open("session.idle", R"({"sessionID":"p"})"), "p idle"},
        {"opencode", open("session.error", R"({"sessionID":"p"})"), "p failed"},
        {"opencode", open("permission.v2.asked", R"({"sessionID":"p"})"), "p waiting"},
        {"opencode", open("question.rejected", R"({"sessionID":"p"})"), "p busy"},
        {"opencode", open("session.idle", "[]"), ""},
        {"opencode", R"({"type":"session.idle","session_id":"top","properties":{"sessionID":"p"}})",
         "top idle"},
        {"opencode", open("busy", R"({"sessionID":"p"})"), ""},
        {"terminal", R"({"type":"busy","session_id":"A-z.0:9_"})", "A-z.0:9_ busy"},
        {"terminal", terminal(std::string(160, 'a')), std::string(160, 'a') + " busy"},
        {"terminal", terminal(std::string(161, 'a')), ""},
        {"terminal", terminal("a/b"), ""},
        {"terminal", terminal("caf\xc3\xa9"), ""},
        // A subagent's combined identifier must pass the rule too.
        {"claude", subagent(149), std::string(149, 's') + ":sub:agent6 busy"},
        {"claude", subagent(150), ""},
    };
    for (const auto& [provider, payload, expected] : rows) {
        EXPECT_EQ(normalized(provider, payload), expected) << provider << " " << payload;
    }
}

class AgentEventEmit : public ::testing::Test {
  protected:
    void SetUp() override {
        mkdir(root_.c_str(), 0700);
        mkdir(runFolder().c_str(), 0700);
        writeDescriptor(valid_);
    }
    std::string runFolder() const { return root_ + "/" + runID_; }
    std::string descriptor() const { return root_ + "/current.json"; }
    void writeDescriptor(const json& value, mode_t mode = 0600) {
        writeFile(descriptor(), value.dump(), mode);
    }
    bool emit(const std::string& payload = R"({"session_id":"s1","type":"busy"})",
              const std::string& provider = "terminal") {
        return AgentEventBridge::emit(provider, payload, root_);
    }

    testing::TempFolder folder_;
    std::string root_ = folder_ / "events";
    std::string runID_ = newUuidText();
    double now_ = AgentEventFiles::wallClockNow();
    json valid_ = {{"runID", runID_}, {"startedAt", now_ - 1}, {"ownerPID", getpid()}};
};

TEST_F(AgentEventEmit, PublishesOnePrivateEventFile) {
    ASSERT_TRUE(
        emit(R"({"session_id":"s1","hook_event_name":"PreToolUse","tool_name":"Bash"})", "codex"));
    const auto names = entries(runFolder());
    ASSERT_EQ(names.size(), 1u);
    const auto uuid = Uuid::parse(names[0].substr(0, 36));
    EXPECT_EQ(uuid ? uuid->text() + ".json" : "", names[0]);
    EXPECT_EQ(permissions(runFolder() + "/" + names[0]), 0600);
    json event = json::parse(readFile(runFolder() + "/" + names[0]));
    EXPECT_GE(event["timestamp"].get<double>(), now_);
    event.erase("timestamp");
    EXPECT_EQ(
        event,
        (json{{"runID", runID_}, {"provider", "codex"}, {"sessionID", "s1"}, {"state", "busy"}}));
}

TEST_F(AgentEventEmit, UnusablePayloadsWriteNothing) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    std::string exact = R"({"session_id":"s1","type":"busy"})";
    exact.insert(1, AgentEventFiles::payloadMaximum - exact.size(), ' ');
    for (const auto& [payload, provider] : std::vector<std::pair<std::string, std::string>>{
             {R"({"session_id":"s1","type":"busy"})", "Claude"},
             {"", "terminal"},
             {R"({"session_id":"s1","type":"busy")", "terminal"},
             {"{\"session_id\":\"s1\",\"type\":\"busy\",\"x\":\"\xed\xa0\x80\"}", "terminal"},
             {R"({"session_id":"s1","type":"busy","x":)" + deep + "}", "terminal"},
             {" " + exact, "terminal"},
         }) {
        EXPECT_FALSE(emit(payload, provider)) << provider << " " << payload.substr(0, 60);
    }
    EXPECT_TRUE(entries(runFolder()).empty());
    EXPECT_TRUE(emit(exact)) << "131,072 bytes";
}

TEST_F(AgentEventEmit, OnlyAPrivateDescriptorOfALiveRunIsFollowed) {
    const auto with = [&](const char* key, json value) {
        json changed = valid_;
        changed[key] = std::move(value);
        return changed;
    };
    const pid_t exited = fork();
    if (exited == 0) {
        _exit(0);
    }
    waitpid(exited, nullptr, 0);
    const std::vector<std::pair<std::string, json>> refused = {
        {"fourth key", with("extra", 1)},
        {"missing key", json{{"runID", runID_}, {"startedAt", now_}}},
        {"ownerPID 0", with("ownerPID", 0)},
        {"ownerPID beyond 32 bits", with("ownerPID", 4294967296.0 + getpid())},
        {"ownerPID exited", with("ownerPID", exited)},
        {"startedAt 6 s ahead", with("startedAt", now_ + 6)},
        {"runID a path", with("runID", "../" + runID_.substr(3))},
    };
    for (const auto& [what, value] : refused) {
        writeDescriptor(value);
        EXPECT_FALSE(emit()) << what;
    }
    writeDescriptor(valid_, 0640);
    EXPECT_FALSE(emit()) << "group-readable";
    std::filesystem::remove(descriptor());
    std::filesystem::create_symlink(folder_ / "elsewhere.json", descriptor());
    writeFile(folder_ / "elsewhere.json", valid_.dump());
    EXPECT_FALSE(emit()) << "symbolic link";
    std::filesystem::remove(descriptor());
    mkfifo(descriptor().c_str(), 0600);
    EXPECT_FALSE(emit()) << "a pipe must not block";
    std::filesystem::remove(descriptor());
    std::string padded = valid_.dump();
    writeFile(descriptor(), " " + padded.insert(1, 1024 - padded.size(), ' '));
    EXPECT_FALSE(emit()) << "1,025 bytes";
    EXPECT_TRUE(entries(runFolder()).empty());
    writeFile(descriptor(), padded);
    EXPECT_TRUE(emit()) << "1,024 bytes";
    writeDescriptor(with("startedAt", now_ + 4));
    EXPECT_TRUE(emit()) << "4 s ahead is tolerated";
    EXPECT_EQ(entries(runFolder()).size(), 2u);
}

TEST_F(AgentEventEmit, FoldersMustBePrivateAndReal) {
    chmod(runFolder().c_str(), 0755);
    EXPECT_FALSE(emit()) << "run folder 0755";
    chmod(runFolder().c_str(), 0700);
    chmod(root_.c_str(), 0750);
    EXPECT_FALSE(emit()) << "event folder 0750";
    chmod(root_.c_str(), 0700);
    std::filesystem::rename(runFolder(), folder_ / "real-run");
    std::filesystem::create_directory_symlink(folder_ / "real-run", runFolder());
    EXPECT_FALSE(emit()) << "run folder is a symbolic link";
    EXPECT_TRUE(entries(folder_ / "real-run").empty());
    std::filesystem::remove_all(root_);
    EXPECT_FALSE(emit());
    EXPECT_FALSE(std::filesystem::exists(root_)) << "the bridge never makes folders";
}

} // namespace
} // namespace vesperon
