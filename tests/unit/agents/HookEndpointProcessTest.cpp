// The hook endpoint as agents run it: the real executable with "--agent-event" and a
// provider, the payload on standard input, against a run armed by this process.
// main() points the executable and this process at one sandboxed machine.
#include <csignal>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "AgentTestFiles.hpp"
#include "agents/AgentConnectionSetup.hpp"
#include "agents/AgentTrackingRun.hpp"

namespace vesperon {
namespace {

using testing::entries;
using testing::readFile;

std::string gSandbox;

constexpr const char* kNoReader = "(a pipe nobody reads)";

// Starts a hook as an agent does (default SIGPIPE handling): standard input from the
// file `input` (none when empty), standard output into the file `answer`, closed when
// empty, or into a pipe nobody reads (where writing raises SIGPIPE).
pid_t startHook(const std::string& provider, const std::string& input, const std::string& answer) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        std::abort();
    }
    close(ends[0]);
    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        const int in = input.empty() ? -1 : open(input.c_str(), O_RDONLY | O_CLOEXEC);
        const int out = answer.empty() || answer == kNoReader
                            ? ends[1]
                            : open(answer.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        (void)(in >= 0 ? dup2(in, STDIN_FILENO) : close(STDIN_FILENO));
        (void)(answer.empty() ? close(STDOUT_FILENO) : dup2(out, STDOUT_FILENO));
        execl(VESPERON_EXECUTABLE, VESPERON_EXECUTABLE, "--agent-event", provider.c_str(), nullptr);
        _exit(127);
    }
    close(ends[1]);
    return pid;
}

// Its exit status, or 128 + the signal that ended it.
int finish(pid_t hook) {
    int status = 0;
    while (waitpid(hook, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string prompt(const std::string& session, const std::string& event = "UserPromptSubmit") {
    return nlohmann::json{{"session_id", session}, {"hook_event_name", event}}.dump();
}

class HookEndpointProcess : public ::testing::Test {
  protected:
    // A file holding `payload`, padded to `size` bytes when given.
    std::string payloadFile(std::string payload, std::size_t size = 0) {
        if (size > payload.size()) {
            payload.insert(1, size - payload.size(), ' ');
        }
        const std::string path = folder_ / ("payload-" + std::to_string(++files_));
        testing::writeFile(path, payload);
        return path;
    }
    std::string runFolder() const { return run_.rootFolder() + "/" + *run_.runID(); }

    testing::TempFolder folder_;
    int files_ = 0;
    AgentTrackingRun run_{std::nullopt, nullptr, 0};
};

TEST_F(HookEndpointProcess, EveryHookIsAnsweredAndOnlyUsablePayloadsArePassedOn) {
    const std::string answer = folder_ / "answer";
    EXPECT_EQ(finish(startHook("claude", payloadFile(prompt("s")), answer)), 0);
    EXPECT_EQ(readFile(answer), "{}\n");
    EXPECT_FALSE(std::filesystem::exists(gSandbox + "/home/Library")) << "nothing without a run";

    ASSERT_TRUE(run_.arm(std::string("claude")));
    EXPECT_EQ(run_.rootFolder(),
              gSandbox + "/home/Library/Application Support/Vesperon/AgentEvents");
    struct Row {
        std::string provider, input, answer;
        bool passedOn;
    };
    const std::vector<Row> rows = {
        {"claude", payloadFile(prompt("exact"), 131072), answer, true},
        {"claude", payloadFile(prompt("over"), 131073), answer, false},
        {"claude", payloadFile(prompt("huge"), std::size_t{1} << 20), answer, false},
        {"claude", "", answer, false},
        {"claude", payloadFile(prompt("closed")), "", true},
        {"claude", payloadFile(prompt("unread")), kNoReader, true},
    };
    std::size_t passedOn = 0;
    for (const Row& row : rows) {
        std::filesystem::remove(answer);
        EXPECT_EQ(finish(startHook(row.provider, row.input, row.answer)), 0) << row.input;
        EXPECT_EQ(readFile(answer), row.answer == answer ? "{}\n" : "") << row.input;
        passedOn += row.passedOn ? 1 : 0;
        EXPECT_EQ(entries(runFolder()).size(), passedOn) << row.input;
    }
    const AgentTrackingSnapshot snapshot = run_.poll();
    EXPECT_EQ(snapshot.busyCount, 3);
    EXPECT_TRUE(snapshot.ready);
}

// 64 hooks at once, twice, while this process polls: every event is consumed once,
// none is seen half-written.
TEST_F(HookEndpointProcess, SixtyFourConcurrentHooksLoseNothing) {
    constexpr int kHooks = 64;
    ASSERT_TRUE(run_.arm(std::string("claude")));
    AgentTrackingSnapshot snapshot;
    for (const char* event : {"PreToolUse", "Stop"}) {
        std::vector<pid_t> hooks;
        for (int i = 0; i < kHooks; ++i) {
            const std::string input = payloadFile(prompt("s-" + std::to_string(i), event), 2048);
            hooks.push_back(startHook("claude", input, input + ".answer"));
        }
        for (std::size_t done = 0; done < hooks.size();) {
            ASSERT_TRUE(run_.poll().ready) << "integrity failure while hooks were writing";
            int status = 0;
            if (waitpid(hooks[done], &status, WNOHANG) == 0) {
                usleep(200);
                continue;
            }
            EXPECT_EQ(status, 0);
            ++done;
        }
        snapshot = run_.poll();
        EXPECT_EQ(snapshot.trackedCount, kHooks) << event;
        EXPECT_TRUE(entries(runFolder()).empty()) << event;
        if (std::string(event) == "PreToolUse") {
            EXPECT_EQ(snapshot.busyCount, kHooks);
        }
    }
    EXPECT_TRUE(snapshot.ready);
    EXPECT_EQ(snapshot.busyCount, 0);
    EXPECT_TRUE(snapshot.shouldFinish);
}

// OpenCode calls its plugins without waiting for the previous call, and the endpoint
// stamps an event when it runs: with a slow first call a finished session's "busy" could
// come after its "idle", unless the adapter hands one session's events over in turn.
TEST_F(HookEndpointProcess, OpenCodeAdapterKeepsEachSessionsEventsInOrder) {
    if (access("/usr/bin/node", X_OK) != 0) {
        GTEST_SKIP() << "node is not installed";
    }
    const std::string slowEndpoint = folder_ / "slow-endpoint";
    testing::writeFile(slowEndpoint,
                       "#!/bin/sh\ninput=$(cat)\n"
                       "case \"$input\" in *'\"type\":\"busy\"'*) sleep 0.5 ;; esac\n"
                       "printf '%s' \"$input\" | exec '" VESPERON_EXECUTABLE "' \"$@\"\n",
                       0755);
    ASSERT_TRUE(AgentConnectionSetup(slowEndpoint, folder_.path()).install("opencode"));
    std::filesystem::copy_file(folder_ / ".config/opencode/plugins/vesperon.js",
                               folder_ / "plugin.mjs");
    // A prompt that fails, dispatched as OpenCode does, in two sessions side by side.
    testing::writeFile(folder_ / "drive.mjs", R"js(import { Vesperon } from "./plugin.mjs";
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
