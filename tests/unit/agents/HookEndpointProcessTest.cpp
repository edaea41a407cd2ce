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
#include "agents/AgentTrackingRun.hpp"

namespace vesperon {
namespace {

using testing::entries;
using testing::readFile;

std::string gSandbox;
constexpr const char* kNoReader = "(a pipe nobody reads)";

// Runs a hook as an agent does (default SIGPIPE handling): standard input from the file
// `input` (none when empty), standard output into the file `answer`, closed when empty,
// or into a pipe nobody reads. Returns the process; see finish().
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

// The exit status, or 128 + the signal that ended it.
int finish(pid_t hook) {
    int status = 0;
    while (waitpid(hook, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class HookEndpointProcess : public ::testing::Test {
  protected:
    // A file holding a Claude Code hook payload padded to `size` bytes.
    std::string payloadFile(const std::string& session, std::size_t size = 0,
                            const std::string& event = "UserPromptSubmit") {
        std::string payload =
            nlohmann::json{{"session_id", session}, {"hook_event_name", event}}.dump();
        payload.insert(1, size > payload.size() ? size - payload.size() : 0, ' ');
        const std::string path = folder_ / ("payload-" + session + "-" + event);
        testing::writeFile(path, payload);
        return path;
    }
    std::string runFolder() const { return run_.rootFolder() + "/" + *run_.runID(); }

    testing::TempFolder folder_;
    AgentTrackingRun run_{std::nullopt, nullptr, 0};
};

TEST_F(HookEndpointProcess, EveryHookIsAnsweredAndOnlyUsablePayloadsArePassedOn) {
    const std::string answer = folder_ / "answer";
    EXPECT_EQ(finish(startHook("claude", payloadFile("s"), answer)), 0);
    EXPECT_EQ(readFile(answer), "{}\n");
    EXPECT_FALSE(std::filesystem::exists(gSandbox + "/home/Library")) << "nothing without a run";

    ASSERT_TRUE(run_.arm(std::string("claude")));
    EXPECT_EQ(run_.rootFolder(),
              gSandbox + "/home/Library/Application Support/Vesperon/AgentEvents");
    struct Row {
        std::string input, answer;
        std::size_t events;
    };
    const std::vector<Row> rows = {
        {payloadFile("exact", 131072), answer, 1},
        {payloadFile("huge", std::size_t{1} << 20), answer, 1},
        {"", answer, 1},
        {payloadFile("closed"), "", 2},
        {payloadFile("unread"), kNoReader, 3},
    };
    for (const Row& row : rows) {
        std::filesystem::remove(answer);
        EXPECT_EQ(finish(startHook("claude", row.input, row.answer)), 0) << row.input;
        EXPECT_EQ(readFile(answer), row.answer == answer ? "{}\n" : "") << row.input;
        EXPECT_EQ(entries(runFolder()).size(), row.events) << row.input;
    }
    EXPECT_EQ(run_.poll().busyCount, 3);
}

// 64 hooks at once, twice, while this process polls: every event is consumed once,
// none is seen half-written.
TEST_F(HookEndpointProcess, SixtyFourConcurrentHooksLoseNothing) {
    ASSERT_TRUE(run_.arm(std::string("claude")));
    for (const char* event : {"PreToolUse", "Stop"}) {
        std::vector<pid_t> hooks;
        for (int i = 0; i < 64; ++i) {
            const std::string input = payloadFile("s-" + std::to_string(i), 2048, event);
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
        const AgentTrackingSnapshot snapshot = run_.poll();
        EXPECT_EQ(snapshot.trackedCount, 64) << event;
        EXPECT_EQ(snapshot.busyCount, std::string(event) == "Stop" ? 0 : 64) << event;
        EXPECT_EQ(snapshot.shouldFinish, std::string(event) == "Stop") << event;
        EXPECT_TRUE(entries(runFolder()).empty()) << event;
    }
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
