#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ChildProcess.hpp"
#include "FakeMachine.hpp"
#include "privileged/JobFile.hpp"

namespace vesperon {
namespace {

using test::ChildOutcome;

constexpr const char* refusal =
    "A sleep override or recovery job already exists. Use Restore normal sleep first.\n";

class SetupModeTest : public ::testing::Test {
  protected:
    ChildOutcome setup(const std::string& seconds = "600",
                       const std::string& executable = VESPERON_EXECUTABLE_PATH,
                       const std::string& workingDirectory = {}) const {
        return test::runChild({{executable, "--setup", std::to_string(::getpid()), seconds,
                                folder / "heartbeat", folder / "stop"},
                               machine.environment(),
                               workingDirectory});
    }
    // Nothing of a session exists and the override is off.
    void expectClean() const {
        EXPECT_FALSE(machine.rootStatePresent());
        EXPECT_FALSE(machine.jobFilePresent());
        EXPECT_FALSE(machine.jobLoaded());
        EXPECT_FALSE(machine.overrideOn());
    }
    void expectRefusedWithoutChange(const ChildOutcome& outcome,
                                    const std::string& message = refusal) const {
        EXPECT_EQ(outcome.exitStatus, 1);
        EXPECT_EQ(outcome.err, message);
        EXPECT_EQ(outcome.out, "");
        EXPECT_TRUE(machine.launchctlCalls().empty());
        for (const std::string& call : machine.pmsetCalls()) {
            EXPECT_EQ(call, "-g");
        }
    }

    test::FakeMachine machine;
    test::TemporaryFolder folder;
    SystemLayout layout = machine.layout();
};

TEST_F(SetupModeTest, OnACleanMachineInstallsTheSessionAndLeavesTheOverrideOff) {
    const double wallBefore = static_cast<double>(::time(nullptr));
    const double clockBefore = machine.clock();
    const ChildOutcome outcome = setup("600");
    const double clockAfter = machine.clock();
    ASSERT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "READY\n");
    EXPECT_EQ(outcome.err, "");

    EXPECT_FALSE(machine.overrideOn()); // the watcher switches it on, not setup
    EXPECT_EQ(machine.pmsetCalls(), std::vector<std::string>{"-g"});
    EXPECT_EQ(machine.launchctlCalls(),
              (std::vector<std::string>{"print system/local.vesperon.session",
                                        "bootstrap system " + layout.jobPath}));
    EXPECT_TRUE(machine.jobLoaded());

    struct stat info {};
    ASSERT_EQ(::lstat(layout.rootDir.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(layout.rootDir),
                            std::filesystem::directory_iterator()),
              2); // the watcher and the record, no leftovers

    ASSERT_EQ(::lstat(layout.watcherPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(info.st_gid, 0u);
    EXPECT_TRUE(test::readFile(layout.watcherPath()) == test::readFile(VESPERON_EXECUTABLE_PATH));

    EXPECT_EQ(test::readFile(layout.jobPath), *jobFileXml(layout));
    ASSERT_EQ(::lstat(layout.jobPath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);

    const auto record = loadSession(layout.sessionRecordPath());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->session.pid, ::getpid());
    EXPECT_EQ(record->session.heartbeat, folder / "heartbeat");
    EXPECT_EQ(record->session.stop, folder / "stop");
    EXPECT_FALSE(record->session.previous);
    EXPECT_GE(record->session.deadline, wallBefore + 600);
    EXPECT_LE(record->session.deadline, static_cast<double>(::time(nullptr)) + 601);
    ASSERT_TRUE(record->session.timing);
    EXPECT_EQ(record->session.timing->version, 1);
    EXPECT_EQ(record->session.timing->bootID, machine.read("boot-id"));
    EXPECT_EQ(record->session.timing->duration, 600);
    EXPECT_GE(record->session.timing->started, clockBefore);
    EXPECT_LE(record->session.timing->started, clockAfter);
}

TEST_F(SetupModeTest, StartedByARelativePathCopiesTheRunningExecutable) {
    const std::filesystem::path executable(VESPERON_EXECUTABLE_PATH);
    const ChildOutcome outcome =
        setup("30", "./" + executable.filename().string(), executable.parent_path().string());
    ASSERT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_TRUE(test::readFile(layout.watcherPath()) == test::readFile(VESPERON_EXECUTABLE_PATH));
}

TEST_F(SetupModeTest, CopiesTheRunningExecutableWhateverNameItWasStartedBy) {
    // argv[0] names another program: the watcher must still be this one.
    const ChildOutcome outcome = test::runChild(
        {{"/bin/bash", "-c", "exec -a /bin/true \"$0\" --setup \"$@\"", VESPERON_EXECUTABLE_PATH,
          std::to_string(::getpid()), "600", folder / "heartbeat", folder / "stop"},
         machine.environment(),
         {}});
    ASSERT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_TRUE(test::readFile(layout.watcherPath()) == test::readFile(VESPERON_EXECUTABLE_PATH));
}

TEST_F(SetupModeTest, RefusedWhileTheOverrideIsOnOrUnreadableSayingWhich) {
    machine.setOverride(true);
    expectRefusedWithoutChange(setup());
    EXPECT_TRUE(machine.overrideOn());
    EXPECT_FALSE(machine.rootStatePresent());

    const std::string unreadable =
        "Setup failed: Could not read the sleep setting from the power tool.\n";
    machine.setOverride(false);
    machine.failPower(1);
    expectRefusedWithoutChange(setup(), unreadable);
    EXPECT_FALSE(machine.rootStatePresent());

    machine.put("sleep-disabled", ""); // "-g" prints no value
    expectRefusedWithoutChange(setup(), unreadable);
    EXPECT_FALSE(machine.rootStatePresent());
}

TEST_F(SetupModeTest, RefusedWhileRemainsOfASessionExist) {
    ::mkdir(layout.rootDir.c_str(), 0700);
    expectRefusedWithoutChange(setup());
    EXPECT_TRUE(std::filesystem::is_empty(layout.rootDir));
    ::rmdir(layout.rootDir.c_str());

    ::symlink("/nonexistent", layout.jobPath.c_str()); // even a dangling link counts
    expectRefusedWithoutChange(setup());
    EXPECT_TRUE(std::filesystem::is_symlink(layout.jobPath));
    ::unlink(layout.jobPath.c_str());
    EXPECT_EQ(setup().exitStatus, 0);
}

TEST_F(SetupModeTest, RefusedWithoutABootIdentifierSayingSo) {
    machine.remove("boot-id");
    expectRefusedWithoutChange(setup(),
                               "Setup failed: Could not read the identifier of this boot.\n");
    expectClean();
}

TEST_F(SetupModeTest, AStaleLoadedJobWithoutFilesIsUnloadedFirst) {
    machine.setJobLoaded(true); // a watcher ended between removing its files and unloading
    const ChildOutcome outcome = setup();
    ASSERT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_EQ(machine.launchctlCalls(),
              (std::vector<std::string>{
                  "print system/local.vesperon.session", "bootout system/local.vesperon.session",
                  "print system/local.vesperon.session", "bootstrap system " + layout.jobPath}));

    // One that will not unload is refused, and nothing is installed.
    machine.reset();
    machine.setJobLoaded(true);
    machine.makeJobSticky();
    const ChildOutcome refused = setup();
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.err, refusal);
    EXPECT_FALSE(machine.rootStatePresent());
    EXPECT_FALSE(machine.jobFilePresent());
}

TEST_F(SetupModeTest, AFailedBootstrapRollsBackToClean) {
    machine.failBootstrap("Bootstrap failed: 5: Input/output error\n");
    const ChildOutcome outcome = setup();
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_TRUE(outcome.err.starts_with("Setup failed: ")) << outcome.err;
    EXPECT_TRUE(outcome.err.ends_with("\n"));
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    EXPECT_NE(outcome.err.find("Bootstrap failed: 5: Input/output error"), std::string::npos);
    EXPECT_NE(outcome.err.find("status 5"), std::string::npos);
    expectClean();
    EXPECT_EQ(machine.launchctlCalls(),
              (std::vector<std::string>{
                  "print system/local.vesperon.session", "bootstrap system " + layout.jobPath,
                  "bootout system/local.vesperon.session", "print system/local.vesperon.session",
                  "bootout system/local.vesperon.session", "print system/local.vesperon.session"}));
    EXPECT_EQ(machine.pmsetCalls(), (std::vector<std::string>{"-g", "-a disablesleep 0", "-g"}));
}

TEST_F(SetupModeTest, AFailedSetupKeepsTheFilesWhileTheJobMayBeRunning) {
    machine.failBootstrap("Bootstrap failed: 5: Input/output error\n");
    machine.makeJobSticky(); // loaded despite the failure, and will not unload
    const ChildOutcome outcome = setup();
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_TRUE(outcome.err.starts_with("Setup failed: ")) << outcome.err;
    EXPECT_TRUE(machine.rootStatePresent());
    EXPECT_TRUE(machine.jobFilePresent());
    EXPECT_TRUE(loadSession(layout.sessionRecordPath()));
    EXPECT_EQ(machine.pmsetCalls(), std::vector<std::string>{"-g"}); // sleep left to the watcher
}

TEST_F(SetupModeTest, AFailedStepBeforeTheBootstrapRollsBackToo) {
    // No folder for the job file: the record is written, the job file is not.
    std::filesystem::remove_all(machine.root() + "/Library/LaunchDaemons");
    const ChildOutcome outcome = setup();
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_TRUE(
        outcome.err.starts_with("Setup failed: Could not create a file beside " + layout.jobPath))
        << outcome.err;
    EXPECT_FALSE(machine.rootStatePresent());
    EXPECT_FALSE(machine.overrideOn());
}

} // namespace
} // namespace vesperon
