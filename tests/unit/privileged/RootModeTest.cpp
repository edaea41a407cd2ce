#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "StandInRootTools.hpp"
#include "platform/ToolRunner.hpp"
#include "privileged/RootLock.hpp"
#include "privileged/RootRestore.hpp"
#include "privileged/SetupRequest.hpp"

namespace vesperon::testing {
namespace {

TEST(SetupRequest, NeedsAPidOfAtLeastTwoThirtySecondsToOneDayAndAbsolutePaths) {
    const auto parse = [](const std::string& pid, const std::string& seconds,
                          const std::string& heartbeat = "/h b", const std::string& stop = "/s") {
        return SetupRequest::parse({"vesperon", "--setup", pid, seconds, heartbeat, stop});
    };
    for (const std::string pid : {"1", "0", "+5", "5x", " 5", "", "2147483648", "3.0"}) {
        EXPECT_FALSE(parse(pid, "30")) << pid;
    }
    for (const std::string seconds : {"29.9", "86400.5", "86460", "nan", "inf", "30s", "-30"}) {
        EXPECT_FALSE(parse("100", seconds)) << seconds;
    }
    EXPECT_FALSE(parse("100", "30", "tmp/h", "/s"));
    EXPECT_FALSE(parse("100", "30", "/h", "stop"));
    EXPECT_FALSE(SetupRequest::parse({"vesperon", "--setup", "100", "30", "/h"}));
    EXPECT_FALSE(SetupRequest::parse({"vesperon", "--setup", "100", "30", "/h", "/s", "/x"}));
    for (const std::string seconds : {"30", "86400", "3e1"}) {
        EXPECT_TRUE(parse("2147483647", seconds)) << seconds;
    }
}

// The executable as root on a folder that is no machine at all: a root mode that gets
// past its argument checks stops at the lock with its message, one that does not ends
// silently. Either way nothing is changed.
TEST(RootModeGrammar, BadModesEndSilentlyAndOrdinaryUsersNeedAuthorization) {
    const TemporaryFolder empty;
    const std::string lockMessage = "Could not lock the power-setting transaction.\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{"--Setup", "100", "30", "/a", "/b"}, ""},
        {{"--render-panel"}, ""},
        {{"--setup", "1", "30", "/a", "/b"}, ""},
        {{"--setup", "100", "30", "/a", "/b"}, lockMessage},
        {{"--restore", "extra", "more"}, lockMessage},
        // The watcher finds no record on this machine and goes for the lock to restore.
        {{"--watch", "extra"}, lockMessage}};
    for (const auto& [arguments, message] : rows) {
        std::vector<std::string> argv{VESPERON_EXECUTABLE_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const ProcessOutcome asRoot = runProcess(argv, {"VESPERON_SANDBOX=" + empty.path()});
        EXPECT_EQ(asRoot.status, 1) << arguments[0];
        EXPECT_EQ(asRoot.out + asRoot.err, message) << ::testing::PrintToString(arguments);
        argv.insert(argv.begin(),
                    {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        const ProcessOutcome asUser = runProcess(argv);
        EXPECT_EQ(asUser.status, 1) << arguments[0];
        EXPECT_EQ(asUser.out + asUser.err, "Administrator authorization required.\n")
            << ::testing::PrintToString(arguments);
    }
    EXPECT_TRUE(std::filesystem::is_empty(empty.path()));
}

TEST(RootModeMachine, ActsOnlyOnARootOwnedSandboxThatOthersCannotWrite) {
    const bool hostLockBefore = std::filesystem::exists("/var/run/local.vesperon.lock");
    const TemporaryFolder folder;
    for (const auto& [name, mode] : {std::pair{"open", 0777}, {"group", 0775}, {"foreign", 0755}}) {
        ::mkdir((folder / name).c_str(), static_cast<mode_t>(mode));
        ::chmod((folder / name).c_str(), static_cast<mode_t>(mode));
    }
    ASSERT_EQ(::chown((folder / "foreign").c_str(), 65534, 65534), 0);
    ::symlink(folder.path().c_str(), (folder / "link").c_str());
    for (const std::string& root :
         {std::string(), std::string("relative/machine"), folder / "open", folder / "group",
          folder / "foreign", folder / "link", folder / "missing"}) {
        for (const std::string mode : {"--restore", "--watch"}) {
            const ProcessOutcome outcome =
                runProcess({VESPERON_EXECUTABLE_PATH, mode}, {"VESPERON_SANDBOX=" + root});
            EXPECT_EQ(outcome.status, 1) << root;
            EXPECT_TRUE(outcome.err.starts_with("This build acts only on a sandboxed machine") ||
                        outcome.err.starts_with("The sandboxed machine "))
                << root << ": " << outcome.err;
        }
    }
    // Nothing was created anywhere, least of all at the host's real paths.
    EXPECT_EQ(std::filesystem::exists("/var/run/local.vesperon.lock"), hostLockBefore);
    EXPECT_TRUE(std::filesystem::is_empty(folder / "open") &&
                std::filesystem::is_empty(folder / "group"));
}

TEST(SetupMode, InstallsACopyOfTheRunningExecutableAndLeavesTheOverrideToTheWatcher) {
    StandInRootTools machine;
    TemporaryFolder folder;
    const SystemLayout layout = machine.layout();
    // argv[0] names another program: the watcher must still be this one.
    const ProcessOutcome outcome = runProcess(
        {"/bin/bash", "-c", "exec -a /bin/true \"$0\" --setup \"$@\"", VESPERON_EXECUTABLE_PATH,
         std::to_string(::getpid()), "600", folder / "heartbeat", folder / "stop"},
        {"VESPERON_SANDBOX=" + machine.root()});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out + outcome.err, "READY\n");
    EXPECT_FALSE(machine.overrideOn());
    EXPECT_EQ(machine.pmsetCalls(), std::vector<std::string>{"-g"});
    EXPECT_EQ(permissions(layout.rootDir), 0700u);
    EXPECT_EQ(permissions(layout.watcherPath()), 0700u);
    EXPECT_TRUE(readFile(layout.watcherPath()) == readFile(VESPERON_EXECUTABLE_PATH));
    EXPECT_EQ(permissions(layout.jobPath), 0644u);
    const auto record = loadSession(layout.sessionRecordPath());
    ASSERT_TRUE(record && record->session.timing);
    EXPECT_EQ(record->session.pid, ::getpid());
    EXPECT_EQ(record->session.timing->duration, 600);
}

TEST(SetupMode, AFailedBootstrapRollsBack) {
    StandInRootTools machine;
    TemporaryFolder folder;
    machine.failBootstrap();
    const ProcessOutcome outcome = machine.vesperon(
        {"--setup", std::to_string(::getpid()), "600", folder / "heartbeat", folder / "stop"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "Setup failed: launchctl bootstrap failed with status 5: Bootstrap "
                           "failed: 5: I/O error\n");
    EXPECT_FALSE(machine.rootStatePresent() || machine.jobFilePresent());
}

class RestoreMode : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.installSession(healthySession(machine, folder.path()));
        machine.setJobLoaded(true);
        machine.setOverride(true);
    }
    StandInRootTools machine;
    TemporaryFolder folder;
};

TEST_F(RestoreMode, VoidsTheRecordRestoresSleepThenUnloadsTheWatcherAndCleansUp) {
    machine.put("record-at-pmset", "");
    const ProcessOutcome outcome = machine.vesperon({"--restore"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out + outcome.err, "RESTORED\n");
    // Interrupted anywhere, a still-loaded watcher finds no record and restores.
    EXPECT_EQ(machine.read("record-at-pmset"), "absent loaded");
    EXPECT_EQ(machine.launchctlCalls().front(), "bootout system/local.vesperon.session");
    EXPECT_FALSE(machine.overrideOn() || machine.rootStatePresent() || machine.jobFilePresent() ||
                 machine.jobLoaded());
}

TEST_F(RestoreMode, AWatcherThatWillNotUnloadKeepsItsFilesButSleepIsBack) {
    machine.makeJobSticky();
    const ProcessOutcome outcome = machine.vesperon({"--restore"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out + outcome.err,
              "Could not confirm the recovery watcher stopped. Recovery files were retained.\n");
    EXPECT_FALSE(machine.overrideOn());
    EXPECT_TRUE(machine.rootStatePresent() && machine.jobFilePresent());
}

TEST_F(RestoreMode, WhenSleepCannotBeRestoredAJobFileGetsItsWatcherBack) {
    machine.setJobLoaded(false);
    machine.failPower(1000);
    const ProcessOutcome outcome = machine.vesperon({"--restore"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "Could not restore normal sleep. Recovery files were retained.\n");
    EXPECT_EQ(machine.pmsetCalls().size(), 5u);
    EXPECT_TRUE(machine.jobFilePresent() && machine.jobLoaded());
}

// rootRestore and cleanupJob, run in this process against its own machine.
TEST(RootRestore, RetriesUntilTheSettingReadsBackOff) {
    StandInRootTools& machine = processMachine();
    machine.reset();
    // A failing call, then one that claims success without acting: only the read-back
    // tells; the third attempt works.
    machine.setOverride(true);
    machine.failPower(1);
    machine.put("ignore-switch", "1");
    EXPECT_TRUE(rootRestore(false));
    EXPECT_FALSE(machine.overrideOn());
    EXPECT_EQ(machine.pmsetCalls(),
              (std::vector<std::string>{"-a disablesleep 0", "-a disablesleep 0", "-g",
                                        "-a disablesleep 0", "-g"}));
}

TEST(RootRestore, CleanupRemovesTheFilesAndReportsAJobThatWillNotUnload) {
    StandInRootTools& machine = processMachine();
    machine.reset();
    TemporaryFolder folder;
    machine.installSession(healthySession(machine, folder.path()));
    machine.setJobLoaded(true);
    machine.makeJobSticky();
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(cleanupJob());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Sleep restored, but could not unload recovery watcher.\n");
    EXPECT_FALSE(machine.rootStatePresent() || machine.jobFilePresent());
}

TEST(RootLock, ARootModeRefusesALockFileThatIsNotAPrivateRegularFileOfItsOwn) {
    StandInRootTools machine;
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

// A tool run under the lock leaves no holder behind; waiting for the lock is bounded.
TEST(RootLock, WaitingIsBoundedAndToolsDoNotInheritTheLock) {
    StandInRootTools& machine = processMachine();
    machine.reset();
    const int lock = rootLock();
    const int waiter = ::open(machine.layout().rootLockPath.c_str(), O_RDWR);
    EXPECT_FALSE(lockWithin(waiter, std::chrono::milliseconds(300)));
    (void)run("/bin/sh", {"-c", "sleep 20 >/dev/null 2>&1 &"});
    rootUnlock(lock);
    EXPECT_TRUE(lockWithin(waiter, std::chrono::milliseconds(300)));
    ::close(waiter);
}

} // namespace
} // namespace vesperon::testing
