#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "StandInMachine.hpp"
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
        EXPECT_TRUE(parse("2", seconds)) << seconds;
    }
    const auto request = parse("2147483647", "3600", "/h b", "/s\"x");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->pid, 2147483647);
    EXPECT_EQ(request->seconds, 3600);
    EXPECT_EQ(request->heartbeatPath, "/h b");
    EXPECT_EQ(request->stopPath, "/s\"x");
}

// The executable as root on a folder that is no machine at all: a root mode that gets
// past its argument checks stops at the lock with its message, one that does not ends
// silently. Either way nothing is changed.
TEST(RootModeGrammar, BadModesEndSilentlyAndOrdinaryUsersNeedAuthorization) {
    const TemporaryFolder empty;
    const std::string lockMessage = "Could not lock the power-setting transaction.\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{"--bogus"}, ""},
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

} // namespace
} // namespace vesperon::testing
