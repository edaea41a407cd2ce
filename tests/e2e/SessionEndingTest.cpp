// How a session ends (which verdict ends it the health rules' tests show): the watcher
// restores normal sleep and unloads itself, without waiting for its poll when the app
// dies or on a user folder that never answers, and recovers from a failing power tool
// and a bad record.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/mount.h>
#include <unistd.h>

#include "SessionFixture.hpp"

namespace vesperon::e2e {
namespace {

using SessionEnds = SessionFixture;

TEST_F(SessionEnds, AWatcherKilledBeforeUnloadingItselfIsReportedAndDoesNotBlockTheNextSetup) {
    FakeApp app(machine);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    ASSERT_NO_FATAL_FAILURE(changeUnderEndedWatcher([&] {
        ASSERT_EQ(runProcess({machine.root() + "/usr/bin/pmset", "-a", "disablesleep", "0"}).status,
                  0);
        std::filesystem::remove_all(machine.rootDir());
        std::filesystem::remove(machine.jobPath());
    }));
    ASSERT_TRUE(waitUntil([&] { return machine.state()["job"] == "loaded"; }, 5));
    const ProcessOutcome diagnose = machine.vesperon({"--diagnose"});
    EXPECT_NE(diagnose.out.find("Recovery job exists: true\n"), std::string::npos) << diagnose.out;
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    app.createStopFile();
    expectRestoredWithin(8);
}

// The watcher does not wait for its poll to see the app die, and a user folder that
// never answers does not hold it.
using WatcherWakes = SessionFixture;

TEST_F(WatcherWakes, WhenTheAppDiesBetweenTwoPolls) {
    FakeApp app(machine);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    // The watcher has just switched the override on and begun its first 2-second wait:
    // until that wait is over only the app's end can wake it. The app is killed but not
    // yet collected by its parent (this test), so its pid still answers signal 0.
    ASSERT_EQ(::kill(app.pid(), SIGKILL), 0);
    const double killed = steadySeconds();
    EXPECT_TRUE(waitUntil([&] { return !overrideOn(); }, 3 + slack));
    // A poll could not have seen the death for another 1.9 s or so; the restore itself
    // (two runs of the power tool) is given most of that on a loaded machine.
    EXPECT_LT(steadySeconds() - killed, 1.4) << machine.jobsLog();
    expectRestoredWithin(3);
}

// A filesystem that never answers, mounted over a folder: the kernel's FUSE device,
// opened and never read, so that every look below the mount point waits until the
// device is closed.
struct SilentFilesystem {
    explicit SilentFilesystem(const std::string& point) : mountPoint(point) {
        const std::string options =
            "fd=" + std::to_string(device.get()) + ",rootmode=40000,user_id=0,group_id=0";
        mounted = device && ::mount("vesperon-silent", point.c_str(), "fuse", MS_NOSUID | MS_NODEV,
                                    options.c_str()) == 0;
    }
    // Unmounted, then the device closes: every waiting look fails.
    ~SilentFilesystem() {
        if (mounted) {
            ::umount2(mountPoint.c_str(), MNT_DETACH);
        }
    }
    std::string mountPoint;
    OwnedFd device{::open("/dev/fuse", O_RDWR | O_CLOEXEC)};
    bool mounted = false;
};

TEST_F(WatcherWakes, AndAUserFolderThatNeverAnswersEndsTheSessionInsteadOfHoldingIt) {
    FakeApp app(machine);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    const std::string folder = std::filesystem::path(app.stop()).parent_path();
    SilentFilesystem silent(folder);
    if (!silent.mounted) {
        GTEST_SKIP() << "this kernel gives no FUSE mount here: " << std::strerror(errno);
    }
    // The look into the folder is given up after its 2-second bound: the heartbeat is
    // unreadable, and the session ends without anything of the user's answering.
    EXPECT_TRUE(waitUntil([&] { return !overrideOn(); }, 2 + 2 + 3 + slack)) << machine.jobsLog();
    EXPECT_TRUE(waitUntil([&] { return !pathExists(machine.rootDir()); }, 3 + slack));
}

// Recovery when things go wrong: a power tool that will not switch the override off,
// and a session record that is not what setup wrote.
using Recovery = SessionFixture;

TEST_F(Recovery, WatcherRetriesAFailedRestoreUntilItSucceeds) {
    FakeApp app(machine);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    ASSERT_EQ(machine.sandbox({"fail-power", "1000000"}).status, 0);
    app.createStopFile();
    // The watcher gives up, exits 1 and is started again.
    ASSERT_TRUE(waitUntil([&] { return machine.jobStarts() >= 3; }, 25 + slack))
        << machine.jobsLog();
    EXPECT_NE(machine.jobsLog().find("Could not restore normal sleep; recovery will retry.\n"),
              std::string::npos)
        << machine.jobsLog();
    EXPECT_TRUE(overrideOn());
    ASSERT_EQ(machine.sandbox({"fail-power", "0"}).status, 0);
    expectRestoredWithin(14);
}

// The next watcher reads a garbled or missing record at its start.
class BadRecord : public SessionFixture, public ::testing::WithParamInterface<bool> {};

TEST_P(BadRecord, RestoresSleep) {
    FakeApp app(machine);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    ASSERT_NO_FATAL_FAILURE(changeUnderEndedWatcher([&] {
        if (GetParam()) {
            writeFile(machine.recordPath(), "\xff{\"pid\":" + readFile(machine.recordPath()));
        } else {
            ::unlink(machine.recordPath().c_str());
        }
    }));
    expectRestoredWithin(12);
    EXPECT_NE(
        machine.jobsLog().find("Missing or invalid recovery state; restoring normal sleep.\n"),
        std::string::npos)
        << machine.jobsLog();
}

INSTANTIATE_TEST_SUITE_P(GarbledOrMissing, BadRecord, ::testing::Bool());

} // namespace
} // namespace vesperon::e2e
