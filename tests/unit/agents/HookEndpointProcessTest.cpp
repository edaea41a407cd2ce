// The hook endpoint as agents run it: the real executable with "--agent-event" and
// a provider, the payload on standard input, against a run armed by this process.
// main() points the executable and this process at one sandboxed machine, so both
// find the event folder under the same home folder.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "AgentEventTestFolder.hpp"
#include "agents/AgentConnectionSetup.hpp"
#include "agents/AgentEventFiles.hpp"
#include "agents/AgentTrackingRun.hpp"

extern char** environ;

namespace vesperon {
namespace {

using nlohmann::json;
using testing::entries;
using testing::exists;

std::string gSandbox;

class HookProcess {
  public:
    enum class Output { Pipe, Closed, Unread };

    explicit HookProcess(std::vector<std::string> arguments, bool withInput = true,
                         Output output = Output::Pipe) {
        int input[2] = {-1, -1};
        int answer[2] = {-1, -1};
        if (pipe2(input, O_CLOEXEC) != 0 || pipe2(answer, O_CLOEXEC) != 0) {
            std::abort();
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (withInput) {
            posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        } else {
            posix_spawn_file_actions_addclose(&actions, STDIN_FILENO);
        }
        if (output == Output::Closed) {
            posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
        } else {
            posix_spawn_file_actions_adddup2(&actions, answer[1], STDOUT_FILENO);
        }
        arguments.insert(arguments.begin(), VESPERON_EXECUTABLE);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        // Agents start hooks with default signal handling, whatever this process ignores.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        if (posix_spawn(&pid_, VESPERON_EXECUTABLE, &actions, &attributes, argv.data(), environ) !=
            0) {
            std::abort();
        }
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        close(input[0]);
        close(answer[1]);
        input_ = input[1];
        answer_ = answer[0];
        if (output == Output::Unread) {
            close(answer_);
            answer_ = -1;
        }
    }
    ~HookProcess() {
        closeInput();
        if (answer_ >= 0) {
            close(answer_);
        }
        if (!exited_) {
            kill(pid_, SIGKILL);
            wait();
        }
    }

    // Writes as much of `data` as the process reads, then ends its input.
    void send(const std::string& data) {
        std::size_t sent = 0;
        while (sent < data.size()) {
            const ssize_t put = write(input_, data.data() + sent, data.size() - sent);
            if (put > 0) {
                sent += static_cast<std::size_t>(put);
            } else if (put < 0 && errno == EINTR) {
                continue;
            } else {
                break; // the process stopped reading (EPIPE)
            }
        }
        closeInput();
    }
    void closeInput() {
        if (input_ >= 0) {
            close(input_);
            input_ = -1;
        }
    }
    bool tryWait() {
        if (!exited_ && waitpid(pid_, &status_, WNOHANG) == pid_) {
            exited_ = true;
        }
        return exited_;
    }
    int wait() {
        while (!exited_) {
            if (waitpid(pid_, &status_, 0) == pid_) {
                exited_ = true;
            } else if (errno != EINTR) {
                break;
            }
        }
        return status_;
    }
    std::string answer() {
        std::string text;
        char buffer[256];
        ssize_t got = 0;
        while (answer_ >= 0 &&
               ((got = read(answer_, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))) {
            if (got > 0) {
                text.append(buffer, static_cast<std::size_t>(got));
            }
        }
        return text;
    }

  private:
    pid_t pid_ = -1;
    int input_ = -1;
    int answer_ = -1;
    int status_ = 0;
    bool exited_ = false;
};

struct HookResult {
    std::string answer;
    int status = -1;
};

HookResult runHook(const std::string& provider, const std::string& payload) {
    HookProcess process({"--agent-event", provider});
    process.send(payload);
    HookResult result;
    result.answer = process.answer();
    const int status = process.wait();
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string prompt(const std::string& session, const std::string& event = "UserPromptSubmit") {
    return json{{"session_id", session}, {"hook_event_name", event}, {"cwd", "/home/user/work"}}
        .dump();
}

// A typical tool-call payload of about 2 KB.
std::string toolCall(const std::string& session, const std::string& event) {
    return json{
        {"session_id", session},
        {"transcript_path", "/home/user/.claude/projects/-home-user-work/" + session + ".jsonl"},
        {"cwd", "/home/user/work"},
        {"permission_mode", "default"},
        {"hook_event_name", event},
        {"tool_name", "Write"},
        {"tool_input",
         {{"file_path", "/home/user/work/src/main.cpp"}, {"content", std::string(1700, 'x')}}}}
        .dump();
}

class HookEndpointProcess : public ::testing::Test {
  protected:
    std::string root() const { return AgentEventFiles::defaultFolder(); }
    std::string runFolder() const { return root() + "/" + *run_.runID(); }

    AgentTrackingRun run_{std::nullopt, nullptr, 0};
};

TEST_F(HookEndpointProcess, TheExecutableAndTheAppAgreeOnTheEventFolder) {
    EXPECT_EQ(root(), gSandbox + "/home/Library/Application Support/Vesperon/AgentEvents");
    EXPECT_EQ(run_.rootFolder(), root());
    ASSERT_TRUE(run_.arm(std::string("claude")));
    const HookResult result = runHook("claude", prompt("s-1"));
    EXPECT_EQ(result.answer, "{}\n");
    EXPECT_EQ(result.status, 0);
    const AgentTrackingSnapshot snapshot = run_.poll();
    EXPECT_EQ(snapshot.busyCount, 1);
    EXPECT_TRUE(snapshot.ready);
}

TEST_F(HookEndpointProcess, WithoutAnArmedRunItAnswersAndWritesNothing) {
    const HookResult result = runHook("claude", prompt("s-1"));
    EXPECT_EQ(result.answer, "{}\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_FALSE(exists(gSandbox + "/home/Library"));
}

TEST_F(HookEndpointProcess, PayloadsUpTo131072BytesArePassedOn) {
    ASSERT_TRUE(run_.arm());
    std::string exact = prompt("exact");
    exact.insert(1, 131072 - exact.size(), ' ');
    ASSERT_EQ(exact.size(), 131072u);
    HookResult result = runHook("claude", exact);
    EXPECT_EQ(result.answer, "{}\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(entries(runFolder()).size(), 1u);

    for (const std::size_t size : {131073ul, 1ul << 20}) {
        std::string over = prompt("over");
        over.insert(1, size - over.size(), ' ');
        result = runHook("claude", over);
        EXPECT_EQ(result.answer, "{}\n") << size;
        EXPECT_EQ(result.status, 0) << size;
    }
    EXPECT_EQ(entries(runFolder()).size(), 1u) << "oversized payloads are dropped";
    const AgentTrackingSnapshot snapshot = run_.poll();
    EXPECT_EQ(snapshot.trackedCount, 1);
    EXPECT_TRUE(snapshot.ready);
}

TEST_F(HookEndpointProcess, BadInputIsAnsweredAndIgnored) {
    ASSERT_TRUE(run_.arm());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"claude", ""},
        {"claude", "\xff\xfe\xfd"},
        {"claude", "{\"session_id\":\"s\",\"hook_event_name\":\"Stop\",\"x\":\"\xc3\x28\"}"},
        {"claude", "{\"session_id\":\"s\",\"x\":" + std::string(100000, '[') +
                       std::string(100000, ']') + "}"},
        {"claude", "[1,2,3]"},
        {"claude", std::string("{\"session_id\":\"s\"\0,\"type\":\"busy\"}", 33)},
        {"claude", prompt("a/b")},
        {"Claude", prompt("s")},
        {"", prompt("s")},
    };
    for (const auto& [provider, payload] : cases) {
        const HookResult result = runHook(provider, payload);
        EXPECT_EQ(result.answer, "{}\n") << payload.substr(0, 40);
        EXPECT_EQ(result.status, 0) << payload.substr(0, 40);
    }
    EXPECT_TRUE(entries(runFolder()).empty());
    EXPECT_TRUE(run_.poll().ready);
}

TEST_F(HookEndpointProcess, ClosedStreamsNeverTurnIntoAFailure) {
    ASSERT_TRUE(run_.arm());
    {
        HookProcess noInput({"--agent-event", "claude"}, false);
        EXPECT_EQ(noInput.answer(), "{}\n");
        EXPECT_EQ(noInput.wait(), 0);
    }
    {
        HookProcess noOutput({"--agent-event", "claude"}, true, HookProcess::Output::Closed);
        noOutput.send(prompt("closed-output"));
        EXPECT_EQ(noOutput.wait(), 0);
    }
    {
        // The agent stopped listening before the answer: no SIGPIPE death.
        HookProcess unread({"--agent-event", "claude"}, true, HookProcess::Output::Unread);
        unread.send(prompt("unread-output"));
        EXPECT_EQ(unread.wait(), 0);
    }
    EXPECT_EQ(run_.poll().busyCount, 2);
}

// 64 hook processes at once, twice, while this process keeps polling: every event
// is consumed exactly once and none is ever seen half-written.
TEST_F(HookEndpointProcess, SixtyFourConcurrentHooksLoseNothing) {
    constexpr int kHooks = 64;
    ASSERT_TRUE(run_.arm(std::string("claude")));
    AgentTrackingSnapshot snapshot;
    for (const char* event : {"PreToolUse", "Stop"}) {
        std::vector<std::unique_ptr<HookProcess>> hooks;
        for (int i = 0; i < kHooks; ++i) {
            hooks.push_back(
                std::make_unique<HookProcess>(std::vector<std::string>{"--agent-event", "claude"}));
        }
        // Every process is waiting on its input; release them together.
        std::vector<std::string> payloads;
        for (int i = 0; i < kHooks; ++i) {
            payloads.push_back(toolCall("session-" + std::to_string(i), event));
        }
        for (int i = 0; i < kHooks; ++i) {
            hooks[static_cast<std::size_t>(i)]->send(payloads[static_cast<std::size_t>(i)]);
        }
        for (bool running = true; running;) {
            snapshot = run_.poll();
            ASSERT_TRUE(snapshot.ready) << "integrity failure while hooks were writing";
            running = false;
            for (auto& hook : hooks) {
                running = !hook->tryWait() || running;
            }
            usleep(200); // leave the processors to the hooks between polls
        }
        for (auto& hook : hooks) {
            EXPECT_EQ(hook->answer(), "{}\n");
            EXPECT_EQ(hook->wait(), 0);
        }
        snapshot = run_.poll();
        EXPECT_TRUE(snapshot.ready) << event;
        EXPECT_EQ(snapshot.trackedCount, kHooks) << event;
        EXPECT_TRUE(entries(runFolder()).empty()) << event;
        if (std::string(event) == "PreToolUse") {
            EXPECT_EQ(snapshot.busyCount, kHooks);
            EXPECT_FALSE(snapshot.shouldFinish);
        }
    }
    EXPECT_EQ(snapshot.busyCount, 0);
    EXPECT_EQ(snapshot.summary, "Agent turn finished \u00b7 checking for more work");
    EXPECT_TRUE(snapshot.shouldFinish);
}

// OpenCode hands each event to its plugins without waiting for the previous call, and
// the endpoint stamps an event when it runs. With a slow first call, a finished
// session's "busy" would be stamped after its "idle" and the session would look busy
// for ever; the adapter hands one session's events over one after another.
TEST_F(HookEndpointProcess, OpenCodeAdapterKeepsEachSessionsEventsInOrder) {
    if (access("/usr/bin/node", X_OK) != 0) {
        GTEST_SKIP() << "node is not installed";
    }
    testing::TempFolder folder;
    const std::string slowEndpoint = folder / "slow-endpoint";
    testing::writeFile(slowEndpoint,
                       "#!/bin/sh\ninput=$(cat)\n"
                       "case \"$input\" in *'\"type\":\"busy\"'*) sleep 0.5 ;; esac\n"
                       "printf '%s' \"$input\" | exec '" VESPERON_EXECUTABLE "' \"$@\"\n",
                       0755);
    ASSERT_TRUE(AgentConnectionSetup(slowEndpoint, folder.path()).install("opencode"));
    std::filesystem::copy_file(folder / ".config/opencode/plugins/vesperon.js",
                               folder / "plugin.mjs");
    // OpenCode's events for a prompt that fails, dispatched as OpenCode does: each call
    // is made before the previous one has finished. A second session runs alongside.
    testing::writeFile(folder / "drive.mjs", R"js(import { Vesperon } from "./plugin.mjs";
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
    const std::string command = "cd '" + folder.path() + "' && /usr/bin/node drive.mjs";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const AgentTrackingSnapshot snapshot = run_.poll();
    EXPECT_EQ(snapshot.trackedCount, 2);
    EXPECT_EQ(snapshot.busyCount, 0) << "a finished session was left looking busy";
}

} // namespace
} // namespace vesperon

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // A failed write to a hook that stopped reading must not end the test.
    std::signal(SIGPIPE, SIG_IGN);
    vesperon::testing::TempFolder sandbox;
    vesperon::gSandbox = sandbox.path();
    mkdir((sandbox.path() + "/home").c_str(), 0700);
    setenv("VESPERON_SANDBOX", sandbox.path().c_str(), 1);
    return RUN_ALL_TESTS();
}
