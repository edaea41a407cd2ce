#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ChildProcess.hpp"
#include "FakeMachine.hpp"
#include "privileged/SetupRequest.hpp"

namespace vesperon {
namespace {

using test::ChildOutcome;

constexpr const char* authorizationMessage = "Administrator authorization required.\n";
constexpr const char* lockMessage = "Could not lock the power-setting transaction.\n";

std::vector<std::string> withExecutable(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), VESPERON_EXECUTABLE_PATH);
    return arguments;
}

// Runs the executable as root against a folder that is no machine at all: a root mode
// that gets past its argument checks stops at the lock with its message, one that
// does not ends silently. Either way nothing is changed.
ChildOutcome asRoot(const std::vector<std::string>& arguments) {
    static const test::TemporaryFolder empty;
    return test::runChild({withExecutable(arguments), {"VESPERON_SANDBOX=" + empty.path()}, {}});
}

ChildOutcome asOrdinaryUser(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups"};
    for (const std::string& argument : withExecutable(arguments)) {
        argv.push_back(argument);
    }
    return test::runChild({argv, {}, {}});
}

void expectSilentFailure(const std::vector<std::string>& arguments) {
    const ChildOutcome outcome = asRoot(arguments);
    EXPECT_EQ(outcome.exitStatus, 1) << ::testing::PrintToString(arguments);
    EXPECT_EQ(outcome.out, "") << ::testing::PrintToString(arguments);
    EXPECT_EQ(outcome.err, "") << ::testing::PrintToString(arguments);
}

void expectAccepted(const std::vector<std::string>& arguments) {
    const ChildOutcome outcome = asRoot(arguments);
    EXPECT_EQ(outcome.exitStatus, 1) << ::testing::PrintToString(arguments);
    EXPECT_EQ(outcome.err, lockMessage) << ::testing::PrintToString(arguments);
}

std::vector<std::string> setup(const std::string& pid, const std::string& seconds,
                               const std::string& heartbeat = "/tmp/s/heartbeat",
                               const std::string& stop = "/tmp/s/stop") {
    return {"--setup", pid, seconds, heartbeat, stop};
}

TEST(RootModeGrammar, OrdinaryUsersAreToldAuthorizationIsRequired) {
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{setup("100", "30"),
                                               {"--restore"},
                                               {"--watch"},
                                               {"--bogus"},
                                               {"--setup"},
                                               {"--agent-event"},
                                               {"--agent-event", "claude", "extra"},
                                               {"--render-panel"}}) {
        const ChildOutcome outcome = asOrdinaryUser(arguments);
        EXPECT_EQ(outcome.exitStatus, 1) << ::testing::PrintToString(arguments);
        EXPECT_EQ(outcome.err, authorizationMessage) << ::testing::PrintToString(arguments);
        EXPECT_EQ(outcome.out, "") << ::testing::PrintToString(arguments);
    }
}

TEST(RootModeGrammar, UnknownModesEndSilently) {
    expectSilentFailure({"--bogus"});
    expectSilentFailure({"--Setup", "100", "30", "/a", "/b"});
    expectSilentFailure({"--render-panel"});
    expectSilentFailure({"--agent-event"});
    expectSilentFailure({"--"});
}

TEST(RootModeGrammar, SetupWithAWrongCountOfArgumentsEndsSilently) {
    expectSilentFailure({"--setup"});
    expectSilentFailure({"--setup", "100", "30", "/tmp/s/heartbeat"});
    expectSilentFailure({"--setup", "100", "30", "/tmp/s/heartbeat", "/tmp/s/stop", "extra"});
}

TEST(RootModeGrammar, SetupNeedsAPidOfAtLeastTwo) {
    for (const std::string pid : {"1", "0", "-5", "+5", "5x", " 5", "0x10", "", "2147483648",
                                  "99999999999999999999", "3.0"}) {
        expectSilentFailure(setup(pid, "30"));
    }
    expectAccepted(setup("2", "30"));
    expectAccepted(setup("2147483647", "30"));
}

TEST(RootModeGrammar, SetupNeedsThirtySecondsToOneDay) {
    for (const std::string seconds : {"29.9", "86400.5", "text", "", "nan", "NaN", "inf", "-inf",
                                      "1e999", "30s", " 30", "-30", "86401"}) {
        expectSilentFailure(setup("100", seconds));
    }
    for (const std::string seconds : {"30", "86400", "30.0", "3e1", "3600"}) {
        expectAccepted(setup("100", seconds));
    }
}

TEST(RootModeGrammar, SetupNeedsAbsolutePaths) {
    expectSilentFailure(setup("100", "30", "tmp/heartbeat", "/tmp/stop"));
    expectSilentFailure(setup("100", "30", "/tmp/heartbeat", "stop"));
    expectSilentFailure(setup("100", "30", "", "/tmp/stop"));
    expectSilentFailure(setup("100", "30", "./heartbeat", "/tmp/stop"));
    expectAccepted(setup("100", "30", "/", "/"));
}

TEST(RootModeGrammar, RestoreAndWatchIgnoreFurtherArguments) {
    expectAccepted({"--restore"});
    expectAccepted({"--restore", "extra", "more"});
    // The watcher finds no record on this machine and goes for the lock to restore.
    const ChildOutcome watch = asRoot({"--watch", "extra"});
    EXPECT_EQ(watch.exitStatus, 1);
    EXPECT_EQ(watch.err, lockMessage);
}

TEST(RootModeMachine, ActsOnlyOnARootOwnedSandboxThatOthersCannotWrite) {
    const bool hostLockBefore = std::filesystem::exists("/var/run/local.vesperon.lock");
    const test::TemporaryFolder folder;
    const std::string open = folder / "open";
    const std::string foreign = folder / "foreign";
    ::mkdir(open.c_str(), 0777);
    ::chmod(open.c_str(), 0777);
    ::mkdir(foreign.c_str(), 0755);
    ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    ::symlink(folder.path().c_str(), (folder / "link").c_str());
    for (const std::vector<std::string>& environment :
         std::vector<std::vector<std::string>>{{"VESPERON_SANDBOX="},
                                               {"VESPERON_SANDBOX=relative/machine"},
                                               {"VESPERON_SANDBOX=" + open},
                                               {"VESPERON_SANDBOX=" + foreign},
                                               {"VESPERON_SANDBOX=" + folder / "link"},
                                               {"VESPERON_SANDBOX=" + folder / "missing"}}) {
        for (const std::string mode : {"--restore", "--watch"}) {
            const ChildOutcome outcome = test::runChild({withExecutable({mode}), environment, {}});
            EXPECT_EQ(outcome.exitStatus, 1) << environment[0];
            EXPECT_TRUE(outcome.err.starts_with("This build acts only on a sandboxed machine") ||
                        outcome.err.starts_with("The sandboxed machine "))
                << environment[0] << ": " << outcome.err;
        }
    }
    // Nothing was created anywhere, least of all at the host's real paths.
    EXPECT_EQ(std::filesystem::exists("/var/run/local.vesperon.lock"), hostLockBefore);
    EXPECT_FALSE(std::filesystem::exists(open + "/var"));
}

TEST(SetupRequestParse, KeepsTheValidatedValues) {
    const auto request =
        SetupRequest::parse({"vesperon", "--setup", "4242", "3600", "/h b", "/s\"x"});
    ASSERT_TRUE(request);
    EXPECT_EQ(request->pid, 4242);
    EXPECT_EQ(request->seconds, 3600);
    EXPECT_EQ(request->heartbeatPath, "/h b");
    EXPECT_EQ(request->stopPath, "/s\"x");
    EXPECT_EQ(parseDecimalInt32("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(parseWholeNumber("0x1p5"), 32);
    EXPECT_FALSE(parseWholeNumber("30 "));
}

} // namespace
} // namespace vesperon
