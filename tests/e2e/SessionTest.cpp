// Sessions through the real executable as root on a sandboxed machine: setup, and how the
// watcher ends a session at once when the app dies, a user folder never answers or a record is bad.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

#include "SandboxedMachine.hpp"

namespace vesperon::e2e {
namespace {

class SessionFixture : public ::testing::Test {
  protected:
    // What a loaded machine may add to any real-time bound.
    static constexpr double slack = 4.0;

    void SetUp() override { ASSERT_EQ(machine.failure(), ""); }

    ProcessOutcome setUp(const FakeApp& app) const { // an hour's session
        return machine.vesperon(
            {"--setup", std::to_string(app.pid()), "3600", app.heartbeat(), app.stop()});
    }

    void startSession(const FakeApp& app) {
        const ProcessOutcome setup = setUp(app);
        ASSERT_EQ(setup.status, 0) << setup.err;
        ASSERT_EQ(setup.out, "READY\n");
        ASSERT_TRUE(waitUntil([&] { return overrideOn(); }, 5 + slack)) << machine.jobsLog();
    }

    bool overrideOn() const { return readFile(machine.machineFile("sleep-disabled")) == "1\n"; }

    void expectRestoredWithin(double seconds) const {
        EXPECT_TRUE(waitUntil([&] { return machine.restored(); }, seconds + slack))
            << machine.sandbox({"state"}).out << machine.jobsLog();
    }

    int watcherPid() const {
        auto values = machine.state();
        return values["watcher-pid"] == "none" ? 0 : std::stoi(values["watcher-pid"]);
    }

    SandboxedMachine machine;
};

using SessionSetup = SessionFixture;

TEST_F(SessionSetup, TheWatcherSleepsTheDisplayOncePerClosingOfTheLid) {
    FakeApp app(machine);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    ASSERT_EQ(machine.sandbox({"lid", "closed"}).status, 0);
    EXPECT_TRUE(waitUntil([&] { return machine.state()["display-sleeps"] == "1"; }, 4 + slack));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(machine.state()["display-sleeps"], "1"); // not again while it stays closed
    EXPECT_TRUE(overrideOn());
    EXPECT_EQ(machine.jobsLog(), "");
    // Qt stays in the display module: neither the executable nor the watcher has it.
    const std::string maps = readFile("/proc/" + std::to_string(watcherPid()) + "/maps");
    for (const std::string& text : {runProcess({"/usr/bin/ldd", VESPERON_EXECUTABLE}).out, maps}) {
        EXPECT_NE(text.find("libc.so"), std::string::npos) << text;
        EXPECT_EQ(text.find("Qt"), std::string::npos) << text;
        EXPECT_EQ(text.find("vesperon-gui"), std::string::npos) << text;
    }
}

TEST_F(SessionSetup, IsRefusedWhileAnOverrideOrRemainsOfASessionExistOrThePowerToolFails) {
    FakeApp app(machine);
    const std::string refusal =
        "A sleep override or recovery job already exists. Use Restore normal sleep first.\n";
    const std::vector<std::pair<std::function<void()>, std::string>> rows = {
        {[&] {
             (void)runProcess({machine.root() + "/usr/bin/pmset", "-a", "disablesleep", "1"});
         },
         refusal},
        {[&] { writeFile(machine.jobPath(), ""); }, refusal},
        {[&] { ::mkdir(machine.rootDir().c_str(), 0700); }, refusal},
        {[&] {
             (void)machine.sandbox({"fail-power", "1"});
         },
         "Setup failed: Could not read the sleep setting from the power tool.\n"}};
    const auto lasting = [&] { // the state without the count of power tool calls
        auto state = machine.state();
        state.erase("power-calls");
        return state;
    };
    for (std::size_t row = 0; row < rows.size(); ++row) {
        SCOPED_TRACE(row);
        rows[row].first();
        const auto before = lasting();
        const ProcessOutcome setup = setUp(app);
        EXPECT_EQ(setup.status, 1);
        EXPECT_EQ(setup.err, rows[row].second);
        EXPECT_EQ(setup.out, "");
        EXPECT_EQ(lasting(), before);
        EXPECT_EQ(machine.vesperon({"--restore"}).status, 0); // clears what the row left
    }
    EXPECT_EQ(setUp(app).status, 0);
}

using WatcherWakes = SessionFixture;

TEST_F(WatcherWakes, WhenTheAppDiesBetweenTwoPolls) {
    FakeApp app(machine);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    // In the watcher's first 2-second wait; the app, not yet collected, still answers signal 0.
    ASSERT_EQ(::kill(app.pid(), SIGKILL), 0);
    const double killed = steadySeconds();
    EXPECT_TRUE(waitUntil([&] { return !overrideOn(); }, 3 + slack));
    // A poll would not see the death for another 1.9 s; the restore gets most of that.
    EXPECT_LT(steadySeconds() - killed, 1.4) << machine.jobsLog();
    expectRestoredWithin(3);
}

// A filesystem that never answers: the kernel's FUSE device, opened and never read.
struct SilentFilesystem {
    explicit SilentFilesystem(const std::string& point) : mountPoint(point) {
        const std::string options =
            "fd=" + std::to_string(device.get()) + ",rootmode=40000,user_id=0,group_id=0";
        mounted = device && ::mount("vesperon-silent", point.c_str(), "fuse", MS_NOSUID | MS_NODEV,
                                    options.c_str()) == 0;
    }
    ~SilentFilesystem() { ::umount2(mountPoint.c_str(), MNT_DETACH); }
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
    // The look into the folder is given up after its 2-second bound.
    EXPECT_TRUE(waitUntil([&] { return !overrideOn(); }, 2 + 2 + 3 + slack)) << machine.jobsLog();
    EXPECT_TRUE(waitUntil([&] { return !pathExists(machine.rootDir()); }, 3 + slack));
}

// A power tool that will not switch the override off: the watcher gives up, exits 1
// with its job left in place and is started again, until the restore succeeds.
TEST_F(WatcherWakes, AndRetriesAFailedRestoreUntilItSucceeds) {
    FakeApp app(machine);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    ASSERT_EQ(machine.sandbox({"fail-power", "1000000"}).status, 0);
    app.createStopFile();
    const auto retries = [&] {
        const std::string log = machine.jobsLog();
        const std::string said = "Could not restore normal sleep; recovery will retry.\n";
        int count = 0;
        for (auto at = log.find(said); at != std::string::npos; at = log.find(said, at + 1)) {
            ++count;
        }
        return count;
    };
    ASSERT_TRUE(waitUntil([&] { return retries() >= 2; }, 25 + slack)) << machine.jobsLog();
    EXPECT_TRUE(overrideOn());
    ASSERT_EQ(machine.sandbox({"fail-power", "0"}).status, 0);
    expectRestoredWithin(14);
}

TEST_F(WatcherWakes, AndRestoresSleepOnAGarbledRecord) {
    FakeApp app(machine);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    // Changed under a paused watcher that then ends: the next one reads it at its start.
    const int watcher = watcherPid();
    ASSERT_GT(watcher, 0);
    ASSERT_EQ(::kill(watcher, SIGSTOP), 0);
    writeFile(machine.recordPath(), "\xff{\"pid\":" + readFile(machine.recordPath()));
    ASSERT_EQ(::kill(watcher, SIGKILL), 0);
    expectRestoredWithin(12);
    EXPECT_NE(
        machine.jobsLog().find("Missing or invalid recovery state; restoring normal sleep.\n"),
        std::string::npos)
        << machine.jobsLog();
}

} // namespace
} // namespace vesperon::e2e
