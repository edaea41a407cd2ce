#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TempFolder.hpp"
#include "VirtualScheduler.hpp"
#include "platform/UserHome.hpp"
#include "tasks/LocalTaskRunner.hpp"

// Real commands run by the real shell; the poll runs on a virtual clock that the
// tests move in small steps while real time passes.

namespace vesperon {
namespace {

using namespace std::chrono_literals;
using testing::VirtualScheduler;

using testing::TempFolder;

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

// Process ids whose process group is `group`, from /proc; zombies do not count.
std::vector<pid_t> liveMembers(pid_t group) {
    std::vector<pid_t> members;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream in(entry.path() / "stat");
        std::string line;
        if (!std::getline(in, line)) {
            continue;
        }
        // Fields after the parenthesised command name: state, ppid, pgrp.
        const auto close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        char state = 0;
        long parent = 0;
        long pgrp = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %ld %ld", &state, &parent, &pgrp) == 3 &&
            pgrp == group && state != 'Z' && state != 'X') {
            members.push_back(static_cast<pid_t>(std::stol(name)));
        }
    }
    return members;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

class LocalTaskRunnerTest : public ::testing::Test {
  protected:
    // Polls in 0.15 s virtual steps, a few real milliseconds apart, until `done`.
    bool pollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(3ms);
            scheduler.advance(LocalTaskRunner::pollSeconds);
        }
        return true;
    }

    // Runs `command` to its end and answers its exit code.
    std::optional<std::int32_t> run(const std::string& command) {
        std::optional<std::int32_t> code;
        if (auto launched = runner.launch(command, [&](std::int32_t c) { code = c; }); !launched) {
            ADD_FAILURE() << launched.error().message;
            return std::nullopt;
        }
        EXPECT_TRUE(pollUntil([&] { return code.has_value(); }));
        return code;
    }

    TempFolder home;
    VirtualScheduler scheduler;
    LocalTaskRunner runner{scheduler, "/bin/sh", home.path()};
};

TEST_F(LocalTaskRunnerTest, ReportsExitStatusOrSignal) {
    EXPECT_EQ(run("exit 0"), 0);
    EXPECT_EQ(run("exit 3"), 3);
    EXPECT_EQ(run("exit 255"), 255);
    EXPECT_EQ(run("kill -TERM $$"), 143);
    EXPECT_EQ(run("kill -KILL $$"), 137);
    EXPECT_EQ(run("no-such-command-anywhere"), 127);
    EXPECT_FALSE(runner.isRunning());
    EXPECT_EQ(scheduler.pendingTimers(), 0u);
}

TEST_F(LocalTaskRunnerTest, RunsFromTheHomeFolderWithTheApplicationsEnvironment) {
    ::setenv("VESPERON_TASK_PROBE", "value with spaces", 1);
    EXPECT_EQ(run("pwd -P > where; printf '%s' \"$VESPERON_TASK_PROBE\" > env"), 0);
    ::unsetenv("VESPERON_TASK_PROBE");
    EXPECT_EQ(readText(home.file("where")), home.path());
    EXPECT_EQ(readText(home.file("env")), "value with spaces");
}

TEST_F(LocalTaskRunnerTest, StandardStreamsAreTheNullDeviceAndNothingElseLeaks) {
    const int leaked = ::open("/dev/null", O_RDONLY); // no close-on-exec on purpose
    ASSERT_GE(leaked, 3);
    // $$ is the command's shell: its own descriptors, read before any redirection.
    const std::string command = "s=\"$(readlink /proc/$$/fd/0) $(readlink /proc/$$/fd/1) "
                                "$(readlink /proc/$$/fd/2)\"; echo \"$s\" > streams; "
                                "test -e /proc/$$/fd/" +
                                std::to_string(leaked) + " && exit 9; read line; exit $?";
    // `read` at end of input fails with status 1: there is no input.
    EXPECT_EQ(run(command), 1);
    ::close(leaked);
    EXPECT_EQ(readText(home.file("streams")), "/dev/null /dev/null /dev/null");
}

TEST_F(LocalTaskRunnerTest, ChildStartsWithDefaultSignalsWhateverTheApplicationBlocks) {
    sigset_t blocked;
    sigset_t previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
    struct sigaction ignore {};
    struct sigaction oldPipe {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &oldPipe);

    EXPECT_EQ(run("kill -TERM $$; exit 0"), 143);
    EXPECT_EQ(run("kill -PIPE $$; exit 0"), 141);

    ::sigaction(SIGPIPE, &oldPipe, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

TEST_F(LocalTaskRunnerTest, CommandLeadsItsOwnProcessGroup) {
    std::optional<std::int32_t> code;
    ASSERT_TRUE(runner.launch("sleep 30", [&](std::int32_t c) { code = c; }));
    const pid_t pid = runner.pid();
    ASSERT_GT(pid, 0);
    EXPECT_NE(pid, ::getpgrp());
    EXPECT_TRUE(eventually([&] { return ::getpgid(pid) == pid; }));
    runner.cancel();
    ASSERT_TRUE(pollUntil([&] { return !runner.isRunning(); }));
    EXPECT_FALSE(code);
}

TEST_F(LocalTaskRunnerTest, BackgroundChildrenDieWhenTheCommandExits) {
    std::optional<std::int32_t> code;
    ASSERT_TRUE(
        runner.launch("sleep 30 & sh -c 'sleep 30' & exit 4", [&](std::int32_t c) { code = c; }));
    const pid_t group = runner.pid();
    ASSERT_TRUE(eventually([&] { return liveMembers(group).size() >= 2; }));
    ASSERT_TRUE(pollUntil([&] { return code.has_value(); }));
    EXPECT_EQ(code, 4);
    EXPECT_TRUE(eventually([&] { return liveMembers(group).empty(); }));
}

TEST_F(LocalTaskRunnerTest, CancelKillsTheWholeGroupAndDropsTheCompletion) {
    int calls = 0;
    ASSERT_TRUE(
        runner.launch("sleep 30 & sleep 30 & sleep 30; exit 0", [&](std::int32_t) { ++calls; }));
    const pid_t group = runner.pid();
    ASSERT_TRUE(eventually([&] { return liveMembers(group).size() >= 4; }));
    runner.cancel();
    // Killed at once, before any poll.
    EXPECT_TRUE(eventually([&] { return liveMembers(group).empty(); }));
    EXPECT_TRUE(runner.isRunning());
    EXPECT_FALSE(runner.launch("exit 0", [&](std::int32_t) { ++calls; }));
    ASSERT_TRUE(pollUntil([&] { return !runner.isRunning(); }));
    EXPECT_EQ(runner.pid(), 0);
    EXPECT_EQ(::waitpid(group, nullptr, WNOHANG), -1); // reaped
    scheduler.advance(5);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(scheduler.pendingTimers(), 0u);
}

TEST_F(LocalTaskRunnerTest, CompletionIsCalledOnceAndMayLaunchTheNextCommand) {
    std::vector<std::int32_t> codes;
    ASSERT_TRUE(runner.launch("exit 5", [&](std::int32_t c) {
        codes.push_back(c);
        EXPECT_FALSE(runner.isRunning());
        EXPECT_TRUE(runner.launch("exit 6", [&](std::int32_t d) { codes.push_back(d); }));
    }));
    ASSERT_TRUE(pollUntil([&] { return codes.size() == 2; }));
    scheduler.advance(5);
    std::this_thread::sleep_for(20ms);
    scheduler.advance(5);
    EXPECT_EQ(codes, (std::vector<std::int32_t>{5, 6}));
    EXPECT_EQ(scheduler.pendingTimers(), 0u);
}

TEST_F(LocalTaskRunnerTest, ChildReapedElsewhereReports255) {
    std::optional<std::int32_t> code;
    ASSERT_TRUE(runner.launch("exit 7", [&](std::int32_t c) { code = c; }));
    int status = 0;
    ASSERT_EQ(::waitpid(runner.pid(), &status, 0), runner.pid());
    scheduler.advance(LocalTaskRunner::pollSeconds);
    EXPECT_EQ(code, 255);
    EXPECT_FALSE(runner.isRunning());
}

TEST_F(LocalTaskRunnerTest, RefusesBadCommandsAndASecondLaunch) {
    const auto refused = [&](const std::string& command) {
        const auto result = runner.launch(command, [](std::int32_t) {});
        if (result) {
            return false;
        }
        EXPECT_EQ(result.error().domain, "Vesperon.Task");
        EXPECT_EQ(result.error().code, 1);
        EXPECT_EQ(result.error().message, "Enter a command of up to 16 KB.");
        return true;
    };
    EXPECT_TRUE(refused(""));
    EXPECT_TRUE(refused(" \t\n\u00a0\u3000"));
    EXPECT_TRUE(refused(std::string("exit 0\0", 7)));
    EXPECT_TRUE(refused("exit \xff"));
    const std::string exactLimit = "exit 0 #" + std::string(16'384 - 8, 'x');
    ASSERT_EQ(exactLimit.size(), 16'384u);
    EXPECT_TRUE(refused(exactLimit + "x"));
    // Multi-byte characters count in bytes: 8,192 × "é" is 16,384 bytes.
    std::string accents = "exit 0 #";
    while (accents.size() + 2 <= 16'384) {
        accents += "\u00e9";
    }
    EXPECT_EQ(accents.size(), 16'384u);
    EXPECT_TRUE(refused(accents + "x"));
    EXPECT_EQ(run(accents), 0);
    EXPECT_EQ(run(exactLimit), 0);

    ASSERT_TRUE(runner.launch("sleep 30", [](std::int32_t) {}));
    const pid_t first = runner.pid();
    EXPECT_TRUE(refused("exit 0"));
    EXPECT_EQ(runner.pid(), first);
    EXPECT_EQ(::kill(first, 0), 0);
    runner.cancel();
}

TEST(LocalTaskRunner, SpawnFailureIsAPosixErrorAndLeavesTheRunnerIdle) {
    VirtualScheduler scheduler;
    TempFolder home;
    LocalTaskRunner noShell(scheduler, home.file("no-such-shell"), home.path());
    const auto missingShell = noShell.launch("exit 0", [](std::int32_t) {});
    ASSERT_FALSE(missingShell);
    EXPECT_EQ(missingShell.error().domain, "NSPOSIXErrorDomain");
    EXPECT_EQ(missingShell.error().code, ENOENT);
    EXPECT_FALSE(noShell.isRunning());
    EXPECT_EQ(scheduler.pendingTimers(), 0u);

    LocalTaskRunner noHome(scheduler, "/bin/sh", home.file("no-such-home"));
    const auto missingHome = noHome.launch("exit 0", [](std::int32_t) {});
    ASSERT_FALSE(missingHome);
    EXPECT_EQ(missingHome.error().code, ENOENT);
    EXPECT_FALSE(noHome.isRunning());
}

TEST(LocalTaskRunner, DestructionKillsTheGroupAndReapsTheCommand) {
    VirtualScheduler scheduler;
    TempFolder home;
    pid_t group = 0;
    {
        LocalTaskRunner runner(scheduler, "/bin/sh", home.path());
        ASSERT_TRUE(runner.launch("sleep 30 & sleep 30", [](std::int32_t) { FAIL(); }));
        group = runner.pid();
        ASSERT_TRUE(eventually([&] { return liveMembers(group).size() >= 3; }));
    }
    EXPECT_EQ(::waitpid(group, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_TRUE(eventually([&] { return liveMembers(group).empty(); }));
    EXPECT_EQ(scheduler.pendingTimers(), 0u);
    scheduler.advance(1);
}

TEST(LocalTaskRunner, DefaultsToThePlatformShellAndTheUsersHomeFolder) {
    VirtualScheduler scheduler;
    const std::string home = userHomeFolder();
    ASSERT_FALSE(home.empty());
    LocalTaskRunner runner(scheduler);
    const std::string out =
        (std::filesystem::temp_directory_path() / ("vesperon-home-" + std::to_string(::getpid())))
            .string();
    std::optional<std::int32_t> code;
    ASSERT_TRUE(runner.launch("pwd -P > " + out, [&](std::int32_t c) { code = c; }));
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!code && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(3ms);
        scheduler.advance(LocalTaskRunner::pollSeconds);
    }
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readText(out), std::filesystem::canonical(home).string());
    std::filesystem::remove(out);
}

} // namespace
} // namespace vesperon
