#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "VirtualScheduler.hpp"
#include "tasks/LocalTaskRunner.hpp"

namespace vesperon {
namespace {

using namespace std::chrono_literals;
using testing::readFile;
using testing::TempFolder;
using testing::VirtualScheduler;

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
    std::optional<std::int32_t> run(const std::string& command) {
        std::optional<std::int32_t> code;
        auto launched = runner.launch(command, [&](std::int32_t c) { code = c; });
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
    // $$ is the command's shell: it runs in the home folder with no input or output.
    for (const auto& [command, code] :
         {std::pair{"exit 255", 255},
          {"kill -TERM $$; exit 0", 143},
          {"pwd -P > where; test $(readlink /proc/$$/fd/1) = /dev/null || exit 9; read line", 1}}) {
        EXPECT_EQ(run(command), code) << command;
    }
    EXPECT_EQ(readFile(home / "where"), home.path() + "\n");
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

// Cancelled: the group is killed at once, before any poll; the next poll reaps it, and
// until then no other command starts. The completion is dropped.
TEST_F(LocalTaskRunnerTest, TheGroupDiesWhenTheCommandIsCancelled) {
    bool completed = false;
    ASSERT_TRUE(runner.launch("sleep 30 & echo $! > pid; sleep 30",
                              [&](std::int32_t) { completed = true; }));
    const pid_t shell = runner.pid();
    std::string pid;
    ASSERT_TRUE(until([&] { return (pid = readFile(home / "pid")).ends_with('\n'); }));
    runner.cancel();
    EXPECT_TRUE(until([&] { return ::kill(std::stoi(pid), 0) != 0; }));
    EXPECT_TRUE(refused("exit 0"));
    ASSERT_TRUE(until([&] { return !runner.isRunning(); }, &scheduler));
    EXPECT_EQ(::waitpid(shell, nullptr, WNOHANG), -1);
    scheduler.advance(5);
    EXPECT_FALSE(completed);
    EXPECT_EQ(scheduler.pendingTimers(), 0u);
}

} // namespace
} // namespace vesperon
