#include <filesystem>
#include <gtest/gtest.h>

#include "StandInMachine.hpp"
#include "privileged/RootRestore.hpp"

namespace vesperon::testing {
namespace {

class RestoreMode : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.installSession(healthySession(machine, folder.path()));
        machine.setJobLoaded(true);
        machine.setOverride(true);
    }
    StandInMachine machine;
    TemporaryFolder folder;
};

TEST_F(RestoreMode, VoidsTheRecordRestoresSleepThenUnloadsTheWatcherAndCleansUp) {
    const std::string daemons = machine.root() + "/Library/LaunchDaemons/";
    machine.put("record-at-pmset", "");
    writeFile(daemons + ".local.vesperon.session.plist.a1B2c3", "<?xml"); // a torn write
    writeFile(daemons + "other.plist", "kept");
    const ProcessOutcome outcome = machine.vesperon({"--restore"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out + outcome.err, "RESTORED\n");
    // Interrupted anywhere, a still-loaded watcher finds no record and restores.
    EXPECT_EQ(machine.read("record-at-pmset"), "absent loaded");
    EXPECT_EQ(machine.launchctlCalls().front(), "bootout system/local.vesperon.session");
    EXPECT_FALSE(machine.overrideOn() || machine.rootStatePresent() || machine.jobFilePresent() ||
                 machine.jobLoaded());
    EXPECT_FALSE(std::filesystem::exists(daemons + ".local.vesperon.session.plist.a1B2c3"));
    EXPECT_TRUE(std::filesystem::exists(daemons + "other.plist"));
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
    StandInMachine& machine = processMachine();
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
    StandInMachine& machine = processMachine();
    machine.reset();
    TemporaryFolder folder;
    for (const bool sticky : {false, true}) {
        machine.installSession(healthySession(machine, folder.path()));
        machine.setJobLoaded(sticky);
        if (sticky) {
            machine.makeJobSticky();
        }
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(cleanupJob(), !sticky);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  sticky ? "Sleep restored, but could not unload recovery watcher.\n" : "");
        EXPECT_FALSE(machine.rootStatePresent() || machine.jobFilePresent());
    }
}

} // namespace
} // namespace vesperon::testing
