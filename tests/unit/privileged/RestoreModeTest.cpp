#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

#include "ChildProcess.hpp"
#include "FakeMachine.hpp"
#include "ProcessMachine.hpp"
#include "privileged/RootRestore.hpp"

namespace vesperon {
namespace {

using test::ChildOutcome;

class RestoreModeTest : public ::testing::Test {
  protected:
    ChildOutcome restore() const {
        return test::runChild({{VESPERON_EXECUTABLE_PATH, "--restore"}, machine.environment(), {}});
    }
    void installActiveSession() const {
        machine.installSession(test::healthySession(machine, folder.path()));
        machine.setJobLoaded(true);
        machine.setOverride(true);
    }

    test::FakeMachine machine;
    test::TemporaryFolder folder;
};

TEST_F(RestoreModeTest, OnACleanMachineSwitchesTheOverrideOffAndSucceeds) {
    const ChildOutcome outcome = restore();
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "RESTORED\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(machine.pmsetCalls(), (std::vector<std::string>{"-a disablesleep 0", "-g"}));
}

TEST_F(RestoreModeTest, RunsHardenedWithoutTheCallersDescriptors) {
    // A descriptor the caller leaked to us without close-on-exec.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_EQ(::dup2(leaked, 57), 57);
    machine.put("describe-caller", "");
    const ChildOutcome outcome = restore();
    ::close(57);
    ::close(leaked);
    ASSERT_EQ(outcome.exitStatus, 0) << outcome.err;
    const std::string caller = machine.read("caller.txt");
    // The leaked descriptor was closed at start (the lock and the tool's pipe remain).
    std::istringstream lines(caller);
    std::vector<std::string> descriptors;
    std::string coreLimit;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("Max core file size") != std::string::npos) {
            coreLimit = line.substr(line.find("size") + 4);
        } else if (line.find(':') == std::string::npos) {
            descriptors.push_back(line);
        }
    }
    EXPECT_EQ(std::count(descriptors.begin(), descriptors.end(), "57"), 0) << caller;
    EXPECT_LE(descriptors.size(), 5u) << caller;
    EXPECT_NE(caller.find("Umask:\t0022"), std::string::npos) << caller;
    std::istringstream limits(coreLimit);
    std::string soft, hard;
    limits >> soft >> hard;
    EXPECT_EQ(soft, "0") << caller;
    EXPECT_EQ(hard, "0") << caller;
}

TEST_F(RestoreModeTest, TakesDownARunningSession) {
    installActiveSession();
    const ChildOutcome outcome = restore();
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "RESTORED\n");
    EXPECT_FALSE(machine.overrideOn());
    EXPECT_FALSE(machine.rootStatePresent());
    EXPECT_FALSE(machine.jobFilePresent());
    EXPECT_FALSE(machine.jobLoaded());
}

TEST_F(RestoreModeTest, VoidsTheRecordAndRestoresSleepBeforeUnloadingTheWatcher) {
    installActiveSession();
    machine.put("record-at-pmset", "");
    const ChildOutcome outcome = restore();
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    // The record was gone before the power tool first ran, and the job was unloaded
    // only after the override read back off: interrupted anywhere, a still-loaded
    // watcher finds no record and restores.
    EXPECT_EQ(machine.read("record-at-pmset"), "absent");
    EXPECT_EQ(machine.read("job-at-first-pmset"), "loaded");
    EXPECT_EQ(machine.launchctlCalls().front(), "bootout system/local.vesperon.session");
    EXPECT_EQ(machine.pmsetCalls(), (std::vector<std::string>{"-a disablesleep 0", "-g"}));
}

TEST_F(RestoreModeTest, AWatcherThatWillNotUnloadKeepsItsFilesButSleepIsBack) {
    installActiveSession();
    machine.makeJobSticky();
    const ChildOutcome outcome = restore();
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.err,
              "Could not confirm the recovery watcher stopped. Recovery files were retained.\n");
    EXPECT_EQ(outcome.out, "");
    EXPECT_FALSE(machine.overrideOn());
    EXPECT_TRUE(machine.rootStatePresent());
    EXPECT_TRUE(machine.jobFilePresent());
    EXPECT_TRUE(machine.jobLoaded());
}

TEST_F(RestoreModeTest, WhenSleepCannotBeRestoredTheWatcherStaysResponsible) {
    installActiveSession();
    machine.failPower(1000);
    const ChildOutcome outcome = restore();
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.err, "Could not restore normal sleep. Recovery files were retained.\n");
    EXPECT_GE(outcome.seconds, 5.0); // five attempts, a second after each
    EXPECT_LT(outcome.seconds, 8.0);
    EXPECT_EQ(machine.pmsetCalls().size(), 5u);
    EXPECT_TRUE(machine.rootStatePresent());
    EXPECT_TRUE(machine.jobFilePresent());
    EXPECT_TRUE(machine.jobLoaded()); // never unloaded

    // A job file whose job is not loaded gets its watcher back.
    machine.setJobLoaded(false);
    machine.failPower(1000);
    EXPECT_EQ(restore().exitStatus, 1);
    EXPECT_TRUE(machine.jobLoaded());
    EXPECT_EQ(machine.launchctlCalls().back(), "bootstrap system " + machine.layout().jobPath);
}

TEST_F(RestoreModeTest, RemovesTemporaryFilesOfAnInterruptedJobFileWrite) {
    const std::string daemons = machine.root() + "/Library/LaunchDaemons/";
    test::writeFile(daemons + ".local.vesperon.session.plist.a1B2c3", "<?xml");
    test::writeFile(daemons + "other.plist", "kept");
    const ChildOutcome outcome = restore();
    EXPECT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_FALSE(std::filesystem::exists(daemons + ".local.vesperon.session.plist.a1B2c3"));
    EXPECT_TRUE(std::filesystem::exists(daemons + "other.plist"));
}

TEST_F(RestoreModeTest, ACleanupThatCannotRemoveTheFilesSaysSo) {
    // A folder full of files where the job file should be cannot be removed as a file.
    std::filesystem::create_directories(machine.layout().jobPath + "/inside");
    const ChildOutcome outcome = restore();
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_TRUE(outcome.err.starts_with("Sleep restored, but recovery cleanup failed: Could not "
                                        "remove " +
                                        machine.layout().jobPath + ": "))
        << outcome.err;
    EXPECT_EQ(outcome.out, "");
}

// rootRestore and cleanupJob, run in this process against its own machine.
class RootRestoreTest : public ::testing::Test {
  protected:
    void SetUp() override { machine.reset(); }
    test::FakeMachine& machine = test::processMachine();
};

TEST_F(RootRestoreTest, SucceedsOnTheThirdAttemptAfterAboutTwoSeconds) {
    machine.setOverride(true);
    machine.failPower(2);
    const double started = test::monotonicSeconds();
    EXPECT_TRUE(rootRestore(false));
    const double elapsed = test::monotonicSeconds() - started;
    EXPECT_GE(elapsed, 2.0);
    EXPECT_LT(elapsed, 4.5); // the calls above tell the attempts apart; this only bounds a hang
    EXPECT_FALSE(machine.overrideOn());
    EXPECT_EQ(machine.pmsetCalls(),
              (std::vector<std::string>{"-a disablesleep 0", "-a disablesleep 0",
                                        "-a disablesleep 0", "-g"}));
}

TEST_F(RootRestoreTest, ASwitchThatDoesNotReadBackIsAFailedAttempt) {
    // The tool reports success twice without acting: only the read-back tells.
    machine.setOverride(true);
    machine.put("ignore-switch", "2");
    const double started = test::monotonicSeconds();
    EXPECT_TRUE(rootRestore(false));
    EXPECT_GE(test::monotonicSeconds() - started, 2.0);
    EXPECT_FALSE(machine.overrideOn());
    EXPECT_EQ(machine.pmsetCalls().size(), 6u);
}

TEST_F(RootRestoreTest, CleanupOfAJobThatWasNeverLoadedSucceeds) {
    test::TemporaryFolder folder;
    machine.installSession(test::healthySession(machine, folder.path()));
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(cleanupJob());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(machine.rootStatePresent());
    EXPECT_FALSE(machine.jobFilePresent());
    EXPECT_EQ(machine.launchctlCalls(),
              (std::vector<std::string>{"bootout system/local.vesperon.session",
                                        "print system/local.vesperon.session"}));
}

TEST_F(RootRestoreTest, CleanupRemovesTheFilesEvenWhenTheJobWillNotUnload) {
    test::TemporaryFolder folder;
    machine.installSession(test::healthySession(machine, folder.path()));
    machine.setJobLoaded(true);
    machine.makeJobSticky();
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(cleanupJob());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Sleep restored, but could not unload recovery watcher.\n");
    EXPECT_FALSE(machine.rootStatePresent());
    EXPECT_FALSE(machine.jobFilePresent());
}

} // namespace
} // namespace vesperon
