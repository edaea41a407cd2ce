#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "ChildProcess.hpp"
#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "platform/ContinuousClock.hpp"
#include "platform/WatcherWakeups.hpp"

namespace vesperon::platform {
namespace {

using namespace std::chrono_literals;
using testing::BackgroundProcess;

// Longer than any test needs on a loaded machine: a wait that ends by its timeout
// reports Timeout, so the reason alone tells an early wake-up.
constexpr auto patience = 30s;

// A process started after the record's moment is what a reused pid looks like.
TEST(WatcherWakeups, TheWatchedProcessEndingWakesTheWaitOnceAndOnlyTheAppIsWatched) {
    const auto wakeups = makeWatcherWakeups();
    const double setup = continuousSeconds();
    ::usleep(50'000); // the process start is counted in clock ticks of 10 ms
    BackgroundProcess newcomer({"/bin/sleep", "60"});
    EXPECT_FALSE(wakeups->watchProcess(newcomer.pid(), setup));
    const pid_t gone = newcomer.pid();
    newcomer.kill();
    for (const pid_t pid : {gone, 0, -1}) {
        EXPECT_FALSE(wakeups->watchProcess(pid, continuousSeconds())) << pid;
    }
    EXPECT_TRUE(wakeups->watchProcess(::getpid(), continuousSeconds())); // long alive
    EXPECT_EQ(wakeups->wait(50ms), WakeReason::Timeout);
    BackgroundProcess child({"/bin/sleep", "0.3"});
    ASSERT_TRUE(wakeups->watchProcess(child.pid(), continuousSeconds()));
    EXPECT_EQ(wakeups->wait(patience), WakeReason::ProcessExited);
    // An ended process is reported once, not at every later wait.
    EXPECT_EQ(wakeups->wait(50ms), WakeReason::Timeout);
}

TEST(WatcherWakeups, AnEntryInAWatchedFolderWakesTheWaitButALinkedFolderIsNotWatched) {
    testing::TempFolder folder;
    std::filesystem::create_directory(folder / "real");
    std::filesystem::create_directory_symlink(folder / "real", folder / "link");
    testing::writeFile(folder / "file", "");
    const auto wakeups = makeWatcherWakeups();
    EXPECT_FALSE(wakeups->watchFolder(folder / "link"));
    EXPECT_FALSE(wakeups->watchFolder(folder / "file"));
    EXPECT_FALSE(wakeups->watchFolder(folder / "missing"));
    // Nothing watched: an entry in the link's target wakes nobody, until it is watched.
    testing::writeFile(folder / "real/stop", "");
    EXPECT_EQ(wakeups->wait(100ms), WakeReason::Timeout);
    ASSERT_TRUE(wakeups->watchFolder(folder / "real"));
    testing::writeFile(folder / "real/other", "");
    EXPECT_EQ(wakeups->wait(patience), WakeReason::FolderChanged);
}

} // namespace
} // namespace vesperon::platform
