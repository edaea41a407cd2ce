#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ChildProcess.hpp"
#include "FakeMachine.hpp"
#include "privileged/RootLock.hpp"

namespace vesperon {
namespace {

using test::ChildOutcome;
using test::runChild;

constexpr const char* lockMessage = "Could not lock the power-setting transaction.\n";

class RootLockTest : public ::testing::Test {
  protected:
    test::ChildOptions holder(int holdMs, bool orphan = false) const {
        test::ChildOptions options{
            {LOCK_HOLDER_PATH, std::to_string(holdMs)}, machine.environment(), {}};
        if (orphan) {
            options.argv.push_back("orphan");
        }
        return options;
    }
    ChildOutcome restore() const {
        return runChild({{VESPERON_EXECUTABLE_PATH, "--restore"}, machine.environment(), {}});
    }
    // The lock was refused: the exact line, status 1, and no tool was run under it.
    void expectRefused(const ChildOutcome& outcome) const {
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.err, lockMessage);
        EXPECT_EQ(outcome.out, "");
        EXPECT_TRUE(machine.launchctlCalls().empty());
        EXPECT_TRUE(machine.pmsetCalls().empty());
    }

    test::FakeMachine machine;
    std::string lockPath = machine.layout().rootLockPath;
};

TEST_F(RootLockTest, CreatesAPrivateLockFileOnFirstUse) {
    const ChildOutcome outcome = restore();
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    struct stat info {};
    ASSERT_EQ(::lstat(lockPath.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_uid, 0u);
}

TEST_F(RootLockTest, ASymbolicLinkIsRefusedAndItsTargetUntouched) {
    test::TemporaryFolder folder;
    const std::string target = folder / "target";
    test::writeFile(target, "precious");
    ::symlink(target.c_str(), lockPath.c_str());
    expectRefused(restore());
    EXPECT_EQ(test::readFile(target), "precious");
    ::unlink(target.c_str());
    expectRefused(restore()); // a dangling link is not followed to create a file
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(RootLockTest, AFolderIsRefused) {
    std::filesystem::create_directory(lockPath);
    expectRefused(restore());
}

TEST_F(RootLockTest, AFileOfAnotherUserIsRefused) {
    test::writeFile(lockPath, "");
    ASSERT_EQ(::chown(lockPath.c_str(), 65534, 65534), 0);
    expectRefused(restore());
}

TEST_F(RootLockTest, ALockFileOthersCanOpenIsRefused) {
    // Anyone who can open the file can hold the lock and keep sleep from coming back.
    for (const mode_t mode : {0644, 0640, 0606}) {
        test::writeFile(lockPath, "");
        ASSERT_EQ(::chmod(lockPath.c_str(), mode), 0);
        expectRefused(restore());
        ::unlink(lockPath.c_str());
    }
}

TEST_F(RootLockTest, WaitingForAHolderIsBounded) {
    test::writeFile(lockPath, "");
    const int holder = ::open(lockPath.c_str(), O_RDWR);
    const int waiter = ::open(lockPath.c_str(), O_RDWR);
    ASSERT_TRUE(lockWithin(holder, std::chrono::milliseconds(0)));
    const double started = test::monotonicSeconds();
    EXPECT_FALSE(lockWithin(waiter, std::chrono::milliseconds(300)));
    EXPECT_GE(test::monotonicSeconds() - started, 0.3);
    ::close(holder);
    EXPECT_TRUE(lockWithin(waiter, std::chrono::milliseconds(300)));
    ::close(waiter);
}

TEST_F(RootLockTest, AFifoIsRefusedWithoutHanging) {
    ASSERT_EQ(::mkfifo(lockPath.c_str(), 0600), 0);
    expectRefused(restore());
}

TEST_F(RootLockTest, AMissingFolderIsRefused) {
    std::filesystem::remove_all(machine.root() + "/var/run");
    expectRefused(restore());
}

TEST_F(RootLockTest, TwoProcessesTakeTheLockOneAfterTheOther) {
    test::ChildProcess first(holder(800));
    test::ChildProcess second(holder(800));
    const ChildOutcome a = first.wait();
    const ChildOutcome b = second.wait();
    ASSERT_EQ(a.exitStatus, 0) << a.err;
    ASSERT_EQ(b.exitStatus, 0) << b.err;
    double aLocked = 0, aUnlocking = 0, bLocked = 0, bUnlocking = 0;
    ASSERT_EQ(std::sscanf(a.out.c_str(), "locked %lf\nunlocking %lf", &aLocked, &aUnlocking), 2);
    ASSERT_EQ(std::sscanf(b.out.c_str(), "locked %lf\nunlocking %lf", &bLocked, &bUnlocking), 2);
    // One holds the lock from start to end before the other gets it.
    EXPECT_TRUE(aUnlocking <= bLocked || bUnlocking <= aLocked) << a.out << "---\n" << b.out;
}

TEST_F(RootLockTest, ARootModeWaitsForTheLockHolder) {
    test::ChildProcess holding(holder(1500));
    ASSERT_TRUE(holding.waitForOutput("locked", 10));
    const double started = test::monotonicSeconds();
    const ChildOutcome outcome = restore();
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "RESTORED\n");
    EXPECT_GE(test::monotonicSeconds() - started, 1.0);
}

TEST_F(RootLockTest, ToolsRunUnderTheLockDoNotInheritIt) {
    // The holder leaves a background process behind; once the holder is gone, the lock
    // must be free even though that process lives on.
    const ChildOutcome first = runChild(holder(0, true));
    ASSERT_EQ(first.exitStatus, 0) << first.err;
    const double started = test::monotonicSeconds();
    const ChildOutcome second = runChild(holder(0));
    EXPECT_EQ(second.exitStatus, 0);
    EXPECT_LT(test::monotonicSeconds() - started, 2.0);
}

} // namespace
} // namespace vesperon
