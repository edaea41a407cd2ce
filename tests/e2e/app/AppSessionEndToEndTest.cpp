// The real session controller with the real administrator request against a
// sandboxed machine (osascript stand-in, the real helper, the real watcher under the
// service manager stand-in), in real time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>

#include "AppFakes.hpp"
#include "SandboxedMachine.hpp"
#include "app/AppDelegate.hpp"
#include "app/OsascriptRequest.hpp"
#include "app/SystemMachine.hpp"
#include "platform/SystemLayout.hpp"
#include "preferences/PropertyListFile.hpp"

namespace vesperon::e2e {
namespace {

namespace fs = std::filesystem;

class AppEndToEnd : public ::testing::Test {
  protected:
    SandboxedMachine machine;
    std::string folder;
    testing::VirtualScheduler scheduler; // moved along with real time by runUntil()
    testing::FakeUi ui;
    testing::FakeNotifier notifier;
    testing::FakeHotKey hotKey;
    testing::FakeWorkspace workspace;
    SystemMachine probes;
    std::unique_ptr<OsascriptRequest> prompt;
    std::unique_ptr<AppDelegate> app;

    void SetUp() override {
        ASSERT_EQ(machine.failure(), "");
        // This process reads the sandboxed machine, as the app does in a sandbox build;
        // each test runs in its own process, so the layout is fixed to this machine.
        ::setenv("VESPERON_SANDBOX", machine.root().c_str(), 1);
        ASSERT_EQ(systemLayout().sandboxRoot, machine.root());
        folder = machine.root() + "/app";
        fs::create_directories(folder + "/tmp");
        prompt = std::make_unique<OsascriptRequest>(scheduler, systemLayout().osascriptPath,
                                                    VESPERON_EXECUTABLE);
        AppParts parts{std::make_unique<PreferencesStore>(
                           std::make_unique<PropertyListFile>(folder + "/preferences.plist")),
                       std::make_unique<LocalTaskRunner>(scheduler, "/bin/sh", folder),
                       std::make_unique<AgentTrackingRun>(), nullptr};
        app = std::make_unique<AppDelegate>(
            AppServices{ui, scheduler, *prompt, notifier, hotKey, workspace, probes},
            AppEnvironment{VESPERON_EXECUTABLE, folder, folder + "/tmp", ::getpid(), "x@y.z"},
            std::move(parts));
        app->applicationDidFinishLaunching();
        ASSERT_TRUE(app->preferences().setSessionAlertsEnabled(true));
    }

    void TearDown() override {
        if (app && (app->sessionRunning() || app->starting())) {
            app->stop(); // leave nothing running behind a failed test
            runUntil([&] { return !app->sessionRunning(); }, 10);
        }
        app.reset();
        prompt.reset();
    }

    // Runs the main loop in real time until `done` holds or `seconds` have passed.
    bool runUntil(const std::function<bool()>& done, double seconds) {
        const double start = steadySeconds();
        for (double moved = 0;;) {
            const double now = steadySeconds() - start;
            scheduler.advance(now - moved);
            moved = now;
            if (done() || now >= seconds) {
                return done();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    bool reaches(const std::string& status, double seconds) {
        return runUntil([&] { return app->statusLine() == status; }, seconds);
    }

    bool overrideOn() const { return readFile(machine.machineFile("sleep-disabled")) == "1\n"; }

    void expectCleanEnd(const std::string& outcome) {
        EXPECT_EQ(app->lastOutcome(), outcome + " · sleep restored");
        EXPECT_TRUE(machine.restored()) << machine.sandbox({"state"}).out;
        EXPECT_TRUE(fs::is_empty(folder + "/tmp"));
        EXPECT_EQ(notifier.posted, std::vector<std::string>{outcome});
        EXPECT_TRUE(ui.alerts.empty())
            << ui.alerts.front().title << ": " << ui.alerts.front().message;
    }
};

TEST_F(AppEndToEnd, TimedSessionOfOneMinuteEndsWithSleepRestored) {
    app->start(60);
    ASSERT_TRUE(reaches("Starting — checking sleep setting…", 15)) << app->statusLine();
    const double verifiedFrom = steadySeconds();
    ASSERT_TRUE(reaches("Active — ready to close lid", 10))
        << app->statusLine() << machine.jobsLog();
    EXPECT_GE(steadySeconds() - verifiedFrom, 2.5); // the 3-second verification
    EXPECT_TRUE(overrideOn());

    // The heartbeat is renewed every tick: the watcher keeps the override on.
    EXPECT_FALSE(runUntil([] { return false; }, 30.0));
    EXPECT_TRUE(overrideOn());
    EXPECT_TRUE(app->sessionRunning());

    ASSERT_TRUE(reaches("Ready — normal sleep restored", 45)) << app->statusLine();
    const double sessionSeconds = steadySeconds() - verifiedFrom;
    EXPECT_GE(sessionSeconds, 55.0);
    EXPECT_LE(sessionSeconds, 70.0);
    expectCleanEnd("Timer ended");
}

} // namespace
} // namespace vesperon::e2e
