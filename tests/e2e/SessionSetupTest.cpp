// Setting a session up through the real executable running as root on a sandboxed
// machine, and what the running watcher does and does not do.
#include <sys/stat.h>
#include <thread>

#include "SessionFixture.hpp"

namespace vesperon::e2e {
namespace {

using SessionSetup = SessionFixture;

// Setup leaves the override to the watcher (its own tests show), which switches it on.
TEST_F(SessionSetup, TheWatcherSwitchesTheOverrideOnAndPollsQuietly) {
    FakeApp app(machine);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    EXPECT_NE(watcherPid(), 0);
    // Five polls: a healthy poll runs no tool and the watcher is not restarted.
    const long long calls = machine.powerCalls();
    const auto starts = machine.jobStarts();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    EXPECT_EQ(machine.powerCalls(), calls);
    EXPECT_EQ(machine.jobStarts(), starts);
    EXPECT_TRUE(overrideOn());
    EXPECT_EQ(machine.jobsLog(), "");
    // Qt stays in the display module: the executable does not link it, and the watcher
    // never maps it.
    const std::string maps = readFile("/proc/" + std::to_string(watcherPid()) + "/maps");
    for (const std::string& text : {runProcess({"/usr/bin/ldd", VESPERON_EXECUTABLE}).out, maps}) {
        EXPECT_NE(text.find("libc.so"), std::string::npos) << text;
        EXPECT_EQ(text.find("Qt"), std::string::npos) << text;
        EXPECT_EQ(text.find("vesperon-gui"), std::string::npos) << text;
    }
    // An ordinary user may read the machine's state.
    ASSERT_EQ(::chmod(machine.root().c_str(), 0755), 0);
    const ProcessOutcome diagnose =
        runProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                    VESPERON_EXECUTABLE, "--diagnose"},
                   {"VESPERON_SANDBOX=" + machine.root()});
    EXPECT_EQ(diagnose.out,
              "Battery above cutoff or charger connected: true\nThermal state: 0\n"
              "Sleep override: Optional(true)\nLid closed: false\nRecovery job exists: true\n")
        << diagnose.err;
}

TEST_F(SessionSetup, ClosingTheLidPutsTheDisplayToSleepOncePerClosing) {
    FakeApp app(machine);
    ASSERT_NO_FATAL_FAILURE(startSession(app));
    const auto displaySleeps = [&](const char* count) {
        return waitUntil([&] { return machine.state()["display-sleeps"] == count; }, 4 + slack);
    };
    ASSERT_EQ(machine.sandbox({"lid", "closed"}).status, 0);
    EXPECT_TRUE(displaySleeps("1"));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(machine.state()["display-sleeps"], "1"); // not again while it stays closed
    ASSERT_EQ(machine.sandbox({"lid", "open"}).status, 0);
    std::this_thread::sleep_for(std::chrono::duration<double>(2.5 + slack)); // a poll sees it open
    ASSERT_EQ(machine.sandbox({"lid", "closed"}).status, 0);
    EXPECT_TRUE(displaySleeps("2"));
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

TEST_F(SessionSetup, DiagnoseSaysWhatItCannotRead) {
    for (const auto& change : std::vector<std::vector<std::string>>{{"battery", "15", "battery"},
                                                                    {"lid", "closed"},
                                                                    {"thermal", "3"},
                                                                    {"fail-power", "1"}}) {
        ASSERT_EQ(machine.sandbox(change).status, 0);
    }
    EXPECT_EQ(machine.vesperon({"--diagnose"}).out,
              "Battery above cutoff or charger connected: false\nThermal state: 3\n"
              "Sleep override: nil\nLid closed: true\nRecovery job exists: false\n");
}

} // namespace
} // namespace vesperon::e2e
