#include "agents/AgentEventBridge.hpp"

#include <sys/wait.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "agents/AgentEventFiles.hpp"
#include "common/UntrustedJson.hpp"
#include "common/Uuid.hpp"

namespace vesperon {
namespace {

using nlohmann::json;
using namespace testing; // readFile, writeFile, permissions, entries

TEST(AgentEventNormalize, EachAgentsEventsMapToSessionStates) {
    const auto claude = [](const std::string& event, const std::string& extra = "") {
        return R"({"session_id":"s","hook_event_name":")" + event + "\"" + extra + "}";
    };
    const auto open = [](const std::string& type,
                         const std::string& properties = R"({"sessionID":"p"})") {
        return R"({"type":")" + type + R"(","properties":)" + properties + "}";
    };
    const auto session = [](const std::string& id, const std::string& rest = R"("type":"busy")") {
        return R"({"session_id":")" + id + "\"," + rest + "}";
    };
    const std::vector<std::tuple<const char*, std::string, std::string>> rows = {
        {"claude", claude("UserPromptSubmit"), "s busy"},
        {"claude", claude("PreToolUse", R"(,"tool_name":"AskUserQuestion")"), "s waiting"},
        {"claude", claude("Notification", R"(,"notification_type":"permission_prompt")"),
         "s waiting"},
        {"claude", claude("Notification"), ""},
        {"claude", claude("StopFailure"), "s failed"},
        {"claude", claude("SessionEnd"), "s ended"},
        {"claude", claude("Stop"), "s idle"},
        {"claude", claude("Stop", R"(,"background_tasks":["x"])"), "s busy"},
        {"claude", claude("SubagentStart", R"(,"agent_id":"a7")"), "s:sub:a7 busy"},
        {"claude", claude("SubagentStart", R"(,"agent_id":"a b")"), ""},
        {"claude", R"({"type":"agent-turn-complete","thread-id":"t"})", ""},
        {"codex", R"({"type":"agent-turn-complete","thread-id":"t"})", "t idle"},
        {"opencode", open("session.status", R"({"sessionID":"p","status":{"type":"busy"}})"),
         "p busy"},
        {"opencode", open("session.idle"), "p idle"},
        {"opencode", open("permission.v2.asked"), "p waiting"},
        {"opencode", R"({"type":"session.idle","session_id":"top","properties":{"sessionID":"p"}})",
         "top idle"},
        // Session identifiers are short and plain.
        {"terminal", session("A-z.0:9_"), "A-z.0:9_ busy"},
        {"terminal", session(std::string(160, 'a')), std::string(160, 'a') + " busy"},
        {"terminal", session(std::string(161, 'a')), ""},
        {"terminal", session("caf\xc3\xa9"), ""},
        {"terminal",
         R"({"event":"idle","tool_input":{"x":[1,{"session_id":"no"}]},"sessionID":"e"})",
         "e idle"},
    };
    for (const auto& [provider, payload, expected] : rows) {
        const auto state = AgentEventBridge::normalize(provider, json::parse(payload));
        EXPECT_EQ(state ? state->sessionID + " " + state->state : "", expected)
            << provider << " " << payload;
        // The endpoint builds only the members that normalising looks at.
        const auto kept = parseUntrustedJsonMembers(payload, AgentEventFiles::payloadDepthLimit,
                                                    AgentEventBridge::payloadMembers);
        ASSERT_TRUE(kept) << payload;
        EXPECT_EQ(AgentEventBridge::normalize(provider, *kept), state)
            << provider << " " << payload;
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

TEST_F(AgentEventEmit, OnlyAPrivateDescriptorOfALiveRunInPrivateFoldersIsFollowed) {
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
        {"ownerPID 0", with("ownerPID", 0)},
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
    for (const auto& [folder, mode] : {std::pair{runFolder(), 0755}, std::pair{root_, 0750}}) {
        writeFile(descriptor(), padded);
        chmod(folder.c_str(), static_cast<mode_t>(mode));
        EXPECT_FALSE(emit()) << folder << " open to others";
        chmod(folder.c_str(), 0700);
    }
    std::filesystem::rename(runFolder(), folder_ / "real-run");
    std::filesystem::create_directory_symlink(folder_ / "real-run", runFolder());
    EXPECT_FALSE(emit()) << "run folder is a symbolic link";
    EXPECT_TRUE(entries(folder_ / "real-run").empty());
    std::filesystem::remove(runFolder());
    std::filesystem::rename(folder_ / "real-run", runFolder());

    EXPECT_TRUE(emit()) << "1,024 bytes";
    writeDescriptor(with("startedAt", now_ + 4));
    EXPECT_TRUE(emit()) << "4 s ahead is tolerated";
    EXPECT_EQ(entries(runFolder()).size(), 2u);
    std::filesystem::remove_all(root_);
    EXPECT_FALSE(emit());
    EXPECT_FALSE(std::filesystem::exists(root_)) << "the bridge never makes folders";
}

// A payload is read whole or not at all: one byte over the limit is as bad as far over.
TEST_F(AgentEventEmit, PayloadsUpToTheLimitArePassedOn) {
    const std::size_t limit = AgentEventFiles::payloadMaximum;
    for (const auto& [size, published] :
         {std::pair{limit, true}, {limit + 1, false}, {16 * limit, false}}) {
        std::string payload = R"({"session_id":"s1","type":"busy"})";
        EXPECT_EQ(emit(payload.insert(1, size - payload.size(), ' ')), published) << size;
    }
}

} // namespace
} // namespace vesperon
