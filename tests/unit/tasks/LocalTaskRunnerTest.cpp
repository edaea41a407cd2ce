#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "VirtualScheduler.hpp"
#include "common/ErrorDomains.hpp"
#include "platform/UserHome.hpp"
#include "tasks/LocalTaskRunner.hpp"

namespace vesperon {
namespace {

using namespace std::chrono_literals;
using testing::readFile;
using testing::TempFolder;
using testing::VirtualScheduler;

// Live (not zombie) members of process group `group`, from /proc.
std::size_t liveMembers(pid_t group) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string stat =
            std::isdigit(entry.path().filename().c_str()[0]) ? readFile(entry.path() / "stat") : "";
        char state = 0; // field 3, then the parent and the group
        long parent = 0, pgrp = 0;
        const std::size_t end = stat.rfind(')');
        count += end != std::string::npos &&
                 std::sscanf(stat.c_str() + end + 1, " %c %ld %ld", &state, &parent, &pgrp) == 3 &&
                 pgrp == group && state != 'Z' && state != 'X';
    }
    return count;
}

// Waits up to 10 s for `done`, moving `scheduler` (when given) one poll on every 3 ms.
bool until(const std::function<bool()>& done, VirtualScheduler* scheduler = nullptr) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    for (; !done(); std::this_thread::sleep_for(3ms)) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        if (scheduler != nullptr) {
            scheduler->advance(LocalTaskRunner::pollSeconds);
        }
    }
    return true;
}

class LocalTaskRunnerTest : public ::testing::Test {
  protected:
    std::optional<std::int32_t> run(const std::string& command, LocalTaskRunner* with = nullptr) {
        std::optional<std::int32_t> code;
        auto launched = (with ? *with : runner).launch(command, [&](std::int32_t c) { code = c; });
        EXPECT_TRUE(launched && until([&] { return code.has_value(); }, &scheduler)) << command;
        return code;
    }
    bool refused(const std::string& command) {
        const auto result = runner.launch(command, [](std::int32_t) {});
        return !result && result.error().domain == "Vesperon.Task" &&
               result.error().message == "Enter a command of up to 16 KB.";
    }

    TempFolder home;
    VirtualScheduler scheduler;
    LocalTaskRunner runner{scheduler, "/bin/sh", home.path()};
};

TEST_F(LocalTaskRunnerTest, ReportsExitStatusOrSignalAndRefusesBadCommands) {
    for (const auto& [command, code] :
         {std::pair{"exit 0", 0}, {"exit 255", 255}, {"no-such-command", 127}}) {
        EXPECT_EQ(run(command), code) << command;
    }
    // Multi-byte characters count in bytes: "exit 0 #" and 8,188 × "é" are 16,384 bytes.
    std::string longest = "exit 0 #";
    while (longest.size() < 16'384) {
        longest += "\u00e9";
    }
    for (const std::string& command :
         {std::string(), std::string(" \t\n\u00a0\u3000"), std::string("exit 0\0", 7),
          std::string("exit \xff"), longest + "x"}) {
        EXPECT_TRUE(refused(command)) << command.substr(0, 10);
    }
    EXPECT_EQ(run(longest), 0);
}

TEST_F(LocalTaskRunnerTest, RunsInTheHomeFolderWithNullStreamsDefaultSignalsAndNoLeaks) {
    const int leaked = ::open("/dev/null", O_RDONLY); // no close-on-exec on purpose
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
    const auto oldPipe = ::signal(SIGPIPE, SIG_IGN);

    // $$ is the command's shell; `read` at the end of input fails with status 1.
    EXPECT_EQ(run("pwd -P > where; "
                  "echo $(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2) > streams; "
                  "test -e /proc/$$/fd/" +
                  std::to_string(leaked) + " && exit 9; read line; exit $?"),
              1);
    EXPECT_EQ(run("kill -TERM $$; exit 0"), 143);
    EXPECT_EQ(run("kill -PIPE $$; exit 0"), 141);

    ::signal(SIGPIPE, oldPipe);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(leaked);
    EXPECT_EQ(readFile(home / "where"), home.path() + "\n");
    EXPECT_EQ(readFile(home / "streams"), "/dev/null /dev/null /dev/null\n");
}

TEST_F(LocalTaskRunnerTest, TheGroupDiesWhenTheCommandEndsIsCancelledOrItsRunnerGoes) {
    std::vector<std::int32_t> codes;
    const auto record = [&](std::int32_t c) { codes.push_back(c); };
    // Ending by itself: what it left running in its own group is killed.
    ASSERT_TRUE(runner.launch("sleep 30 & sh -c 'sleep 30' & exit 4", record));
    pid_t group = runner.pid();
    EXPECT_NE(group, ::getpgrp());
    ASSERT_TRUE(until([&] { return liveMembers(group) >= 2; }));
    ASSERT_TRUE(until([&] { return !codes.empty(); }, &scheduler));
    EXPECT_TRUE(until([&] { return liveMembers(group) == 0; }));

    // Cancelled: killed at once, before any poll; the next poll reaps it, and until then
    // no other command starts. The completion is dropped.
    ASSERT_TRUE(runner.launch("sleep 30 & sleep 30; exit 0", record));
    group = runner.pid();
    ASSERT_TRUE(until([&] { return liveMembers(group) >= 3; }));
    runner.cancel();
    EXPECT_TRUE(until([&] { return liveMembers(group) == 0; }));
    EXPECT_TRUE(refused("exit 0"));
    ASSERT_TRUE(until([&] { return !runner.isRunning(); }, &scheduler));
    EXPECT_EQ(::waitpid(group, nullptr, WNOHANG), -1);

    // The runner destroyed: killed and reaped at once.
    {
        LocalTaskRunner doomed(scheduler, "/bin/sh", home.path());
        ASSERT_TRUE(doomed.launch("sleep 30 & sleep 30", record));
        group = doomed.pid();
        ASSERT_TRUE(until([&] { return liveMembers(group) >= 2; }));
    }
    EXPECT_EQ(::waitpid(group, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_TRUE(until([&] { return liveMembers(group) == 0; }));
    scheduler.advance(5);
    EXPECT_EQ(codes, std::vector<std::int32_t>{4});
    EXPECT_EQ(scheduler.pendingTimers(), 0u);
}

TEST_F(LocalTaskRunnerTest, CompletionIsCalledOnceAndMayLaunchTheNextCommand) {
    std::vector<std::int32_t> codes;
    ASSERT_TRUE(runner.launch("exit 5", [&](std::int32_t c) {
        codes.push_back(c);
        EXPECT_TRUE(runner.launch("exit 6", [&](std::int32_t d) { codes.push_back(d); }));
    }));
    ASSERT_TRUE(until([&] { return codes.size() == 2; }, &scheduler));
    std::this_thread::sleep_for(20ms);
    scheduler.advance(5);
    EXPECT_EQ(codes, (std::vector<std::int32_t>{5, 6}));
    EXPECT_EQ(scheduler.pendingTimers(), 0u);

    // A command that can no longer be waited for (reaped elsewhere) reports 255.
    ASSERT_TRUE(runner.launch("exit 7", [&](std::int32_t c) { codes.push_back(c); }));
    ASSERT_EQ(::waitpid(runner.pid(), nullptr, 0), runner.pid());
    scheduler.advance(LocalTaskRunner::pollSeconds);
    EXPECT_EQ(codes.back(), 255);
    EXPECT_FALSE(runner.isRunning());
}

TEST_F(LocalTaskRunnerTest, SpawnFailureIsAPosixErrorAndTheDefaultsAreTheUsers) {
    LocalTaskRunner noShell(scheduler, home / "no-such-shell", home.path());
    LocalTaskRunner noHome(scheduler, "/bin/sh", home / "no-such-home");
    for (LocalTaskRunner* bad : {&noShell, &noHome}) {
        const auto launched = bad->launch("exit 0", [](std::int32_t) {});
        EXPECT_TRUE(!launched && launched.error().domain == errorDomain::system &&
                    launched.error().code == ENOENT && !bad->isRunning());
    }
    LocalTaskRunner defaults(scheduler);
    EXPECT_EQ(run("pwd -P > " + (home / "where"), &defaults), 0);
    EXPECT_EQ(readFile(home / "where"),
              std::filesystem::canonical(userHomeFolder()).string() + "\n");
}

} // namespace
} // namespace vesperon
