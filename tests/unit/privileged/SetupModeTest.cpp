#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "StandInMachine.hpp"
#include "privileged/JobFile.hpp"

namespace vesperon::testing {
namespace {

mode_t modeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(SetupMode, InstallsACopyOfTheRunningExecutableAndLeavesTheOverrideToTheWatcher) {
    StandInMachine machine;
    TemporaryFolder folder;
    const SystemLayout layout = machine.layout();
    // argv[0] names another program: the watcher must still be this one.
    const double clockBefore = machine.clock();
    const ProcessOutcome outcome = runProcess(
        {"/bin/bash", "-c", "exec -a /bin/true \"$0\" --setup \"$@\"", VESPERON_EXECUTABLE_PATH,
         std::to_string(::getpid()), "600", folder / "heartbeat", folder / "stop"},
        {"VESPERON_SANDBOX=" + machine.root()});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out + outcome.err, "READY\n");
    EXPECT_FALSE(machine.overrideOn());
    EXPECT_EQ(machine.pmsetCalls(), std::vector<std::string>{"-g"});
    EXPECT_EQ(modeOf(layout.rootDir), 0700u);
    EXPECT_EQ(modeOf(layout.watcherPath()), 0700u);
    EXPECT_TRUE(readFile(layout.watcherPath()) == readFile(VESPERON_EXECUTABLE_PATH));
    EXPECT_EQ(readFile(layout.jobPath), *jobFileXml(layout));
    EXPECT_EQ(modeOf(layout.jobPath), 0644u);
    const auto record = loadSession(layout.sessionRecordPath());
    ASSERT_TRUE(record && record->session.timing);
    EXPECT_EQ(record->session.pid, ::getpid());
    EXPECT_EQ(record->session.stop, folder / "stop");
    EXPECT_EQ(record->session.timing->bootID, machine.read("boot-id"));
    EXPECT_EQ(record->session.timing->duration, 600);
    EXPECT_GE(record->session.timing->started, clockBefore);
    EXPECT_LE(record->session.timing->started, machine.clock());
}

TEST(SetupMode, AFailedBootstrapRollsBackUnlessTheJobMayBeRunning) {
    StandInMachine machine;
    TemporaryFolder folder;
    const auto setup = [&] {
        return machine.vesperon(
            {"--setup", std::to_string(::getpid()), "600", folder / "heartbeat", folder / "stop"});
    };
    machine.failBootstrap();
    ProcessOutcome outcome = setup();
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "Setup failed: launchctl bootstrap failed with status 5: Bootstrap "
                           "failed: 5: I/O error\n");
    EXPECT_FALSE(machine.rootStatePresent());
    EXPECT_FALSE(machine.jobFilePresent());
    EXPECT_EQ(machine.pmsetCalls(), (std::vector<std::string>{"-g", "-a disablesleep 0", "-g"}));

    // Loaded despite the failure and will not unload: the files stay for the watcher.
    machine.reset();
    machine.failBootstrap();
    machine.makeJobSticky();
    outcome = setup();
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(loadSession(machine.layout().sessionRecordPath()));
    EXPECT_TRUE(machine.jobFilePresent());
    EXPECT_EQ(machine.pmsetCalls(), std::vector<std::string>{"-g"});
}

} // namespace
} // namespace vesperon::testing
