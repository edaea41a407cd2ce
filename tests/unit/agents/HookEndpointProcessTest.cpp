// The hook endpoint as agents run it: the real executable with "--agent-event" and a
// provider, the payload on standard input, against a run armed by this process.
// main() points the executable and this process at one sandboxed machine.
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "agents/AgentConnectionSetup.hpp"
#include "agents/AgentEventFiles.hpp"
#include "agents/AgentTrackingRun.hpp"

namespace vesperon {
namespace {

using namespace testing; // readFile, writeFile, permissions, entries

std::string gSandbox;

class HookEndpointProcess : public ::testing::Test {
  protected:
    // Runs a hook as an agent does, with a Claude Code payload of `size` bytes (blanks
    // after the object) on its input; true when it exits 0 and answers "{}".
    bool hook(const std::string& session, std::size_t size) {
        const std::string payload =
            nlohmann::json{{"session_id", session}, {"hook_event_name", "PreToolUse"}}.dump();
        const std::string input = folder_ / session, answer = folder_ / (session + ".answer");
        testing::writeFile(input, payload + std::string(size - payload.size(), ' '));
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(open(input.c_str(), O_RDONLY), STDIN_FILENO);
            dup2(open(answer.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            execl(VESPERON_EXECUTABLE, VESPERON_EXECUTABLE, "--agent-event", "claude", nullptr);
            _exit(127);
        }
        int status = -1;
        waitpid(pid, &status, 0);
        return status == 0 && readFile(answer) == "{}\n";
    }

    testing::TempFolder folder_;
    AgentTrackingRun run_{std::nullopt, nullptr, 0};
};

// A payload up to the limit is passed on; a longer one is dropped, however long, and
// even when what fits within the limit would read as a whole event.
TEST_F(HookEndpointProcess, PayloadsBeyondTheLimitAreDropped) {
    EXPECT_TRUE(hook("before", 100));
    EXPECT_FALSE(std::filesystem::exists(gSandbox + "/home/Library")) << "nothing without a run";
    ASSERT_TRUE(run_.arm(std::string("claude")));
    EXPECT_EQ(run_.rootFolder(),
              gSandbox + "/home/Library/Application Support/Vesperon/AgentEvents");
    const std::size_t limit = AgentEventFiles::payloadMaximum;
    int tracked = 0;
    for (const auto& [size, passed] :
         {std::pair{limit, true}, {limit + 1, false}, {16 * limit, false}}) {
        EXPECT_TRUE(hook("s" + std::to_string(size), size));
        tracked += passed;
        EXPECT_EQ(run_.poll().trackedCount, tracked) << size;
    }
}

// OpenCode calls its plugins without waiting for the previous call, and the endpoint
// stamps an event when it runs: with a slow first call a finished session's "busy" could
// come after its "idle", unless the adapter hands one session's events over in turn.
TEST_F(HookEndpointProcess, OpenCodeAdapterKeepsEachSessionsEventsInOrder) {
    if (access("/usr/bin/node", X_OK) != 0) {
        GTEST_SKIP() << "node is not installed";
    }
    const std::string slowEndpoint = folder_ / "slow-endpoint";
    writeFile(slowEndpoint,
              "#!/bin/sh\ninput=$(cat)\n"
              "case \"$input\" in *'\"type\":\"busy\"'*) sleep 0.5 ;; esac\n"
              "printf '%s' \"$input\" | exec '" VESPERON_EXECUTABLE "' \"$@\"\n",
              0755);
    ASSERT_TRUE(AgentConnectionSetup(slowEndpoint, folder_.path()).install("opencode"));
    std::filesystem::copy_file(folder_ / ".config/opencode/plugins/vesperon.js",
                               folder_ / "plugin.mjs");
    // A prompt that fails, dispatched as OpenCode does, in two sessions side by side.
    writeFile(folder_ / "drive.mjs", R"js(import { Vesperon } from "./plugin.mjs";
const plugin = await Vesperon({});
const status = (id, type) => ({ type: "session.status", properties: { sessionID: id, status: { type } } });
const calls = [];
for (const id of ["ses_a", "ses_b"]) {
  calls.push(plugin.event({ event: status(id, "busy") }));
  calls.push(plugin.event({ event: { type: "session.error", properties: { sessionID: id } } }));
  calls.push(plugin.event({ event: status(id, "idle") }));
  calls.push(plugin.event({ event: { type: "session.idle", properties: { sessionID: id } } }));
}
await Promise.all(calls);
)js");
    ASSERT_TRUE(run_.arm(std::string("opencode")));
    const std::string command = "cd '" + folder_.path() + "' && /usr/bin/node drive.mjs";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const AgentTrackingSnapshot snapshot = run_.poll();
    EXPECT_TRUE(snapshot.ready);
    EXPECT_EQ(snapshot.trackedCount, 2);
    EXPECT_EQ(snapshot.busyCount, 0) << "a finished session was left looking busy";
}

} // namespace
} // namespace vesperon

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    vesperon::testing::TempFolder sandbox;
    vesperon::gSandbox = sandbox.path();
    mkdir((sandbox.path() + "/home").c_str(), 0700);
    setenv("VESPERON_SANDBOX", sandbox.path().c_str(), 1);
    return RUN_ALL_TESTS();
}
