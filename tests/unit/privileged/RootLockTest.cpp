#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "StandInMachine.hpp"
#include "platform/ToolRunner.hpp"
#include "privileged/RootLock.hpp"

namespace vesperon::testing {
namespace {

TEST(RootLock, ARootModeRefusesALockFileThatIsNotAPrivateRegularFileOfItsOwn) {
    StandInMachine machine;
    const std::string lock = machine.layout().rootLockPath;
    TemporaryFolder folder;
    const std::string target = folder / "target";
    const auto file = [&](mode_t mode) {
        writeFile(lock, "");
        ::chmod(lock.c_str(), mode);
    };
    const std::vector<std::pair<std::string, std::function<void()>>> rows = {
        {"link", [&] { writeFile(target, "precious"), ::symlink(target.c_str(), lock.c_str()); }},
        {"folder", [&] { ::mkdir(lock.c_str(), 0700); }},
        {"fifo", [&] { ::mkfifo(lock.c_str(), 0600); }},
        {"another user's", [&] { file(0600), (void)::chown(lock.c_str(), 65534, 65534); }},
        // Anyone who can open the file can hold the lock and keep sleep from coming back.
        {"0640", [&] { file(0640); }},
        {"0606", [&] { file(0606); }}};
    for (const auto& [name, prepare] : rows) {
        SCOPED_TRACE(name);
        machine.reset();
        prepare();
        const ProcessOutcome outcome = machine.vesperon({"--restore"});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out + outcome.err, "Could not lock the power-setting transaction.\n");
        EXPECT_TRUE(machine.launchctlCalls().empty() && machine.pmsetCalls().empty());
    }
    EXPECT_EQ(readFile(target), "precious");
    machine.reset();
    EXPECT_EQ(machine.vesperon({"--restore"}).status, 0);
    struct stat info {};
    ASSERT_EQ(::lstat(lock.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

// The lock taken by this process on its own machine, with a root mode as the other party.
TEST(RootLock, ARootModeWaitsForTheHolderWaitingIsBoundedAndToolsDoNotInheritIt) {
    StandInMachine& machine = processMachine();
    machine.reset();
    const auto restore = [&] {
        return std::async(std::launch::async, [&] { return machine.vesperon({"--restore"}); });
    };
    int lock = rootLock();
    auto waiting = restore();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(machine.pmsetCalls().empty()); // still waiting
    rootUnlock(lock);
    const ProcessOutcome outcome = waiting.get();
    EXPECT_EQ(outcome.out, "RESTORED\n") << outcome.err;
    EXPECT_GE(outcome.seconds, 1.4);

    lock = rootLock();
    const int waiter = ::open(machine.layout().rootLockPath.c_str(), O_RDWR);
    const double started = steadySeconds();
    EXPECT_FALSE(lockWithin(waiter, std::chrono::milliseconds(300)));
    EXPECT_GE(steadySeconds() - started, 0.3);
    // A tool run under the lock leaves a process behind that outlives the hold.
    (void)run("/bin/sh", {"-c", "sleep 20 >/dev/null 2>&1 &"});
    rootUnlock(lock);
    EXPECT_TRUE(lockWithin(waiter, std::chrono::milliseconds(300)));
    ::close(waiter);
    EXPECT_LT(restore().get().seconds, 12.0);
}

} // namespace
} // namespace vesperon::testing
