#pragma once

// A whole controller on a virtual clock: scripted seams, and a real preferences file,
// session folder, task runner and agent tracking run in a temporary home.
#include <algorithm>
#include <filesystem>
#include <memory>

#include "AppFakes.hpp"
#include "TempFolder.hpp"
#include "agents/AgentEventFiles.hpp"
#include "app/AppDelegate.hpp"
#include "preferences/PropertyListFile.hpp"

namespace vesperon::testing {

namespace fs = std::filesystem;

class AppScenario : public ::testing::Test {
  public:
    TempFolder temp;
    std::string home = temp.path() + "/home", tmp = temp.path() + "/tmp";
    std::string events = temp.path() + "/events", shell = "/bin/sh";
    VirtualScheduler scheduler;
    FakeUi ui;
    FakeMachine machine{scheduler};
    FakePrivileged privileged{scheduler};
    FakeNotifier notifier;
    FakeHotKey hotKey;
    FakeWorkspace workspace;
    CodexHookTrust codexAnswer = CodexHookTrust::trusted();
    double agentClockAhead = 0; // moves the agent run's clock past its quiet period
    std::unique_ptr<AppDelegate> app;
    std::vector<std::string> statuses; // every status line the panel showed

    bool watcherResponds = true; // false: the watcher stalls
    Scheduler::TimerId watcherPoll = 0;

    void SetUp() override {
        fs::create_directories(home);
        fs::create_directories(tmp);
        ui.onRefresh = [this] {
            if (app && (statuses.empty() || statuses.back() != app->statusLine())) {
                statuses.push_back(app->statusLine());
            }
        };
        // The recovery watcher as the controller sees it: setup leaves root state, the
        // override comes on a moment later, and the stop file ends both at the next poll.
        privileged.onSuccess = [this](const std::vector<std::string>& arguments) {
            if (arguments.at(0) != "--setup") {
                return sleepBack();
            }
            machine.rootState = true;
            scheduler.after(0.5, [this] { machine.override = true; });
            watcherPoll = scheduler.every(2.0, [this, stop = arguments.at(4)] {
                if (watcherResponds && fs::exists(stop)) {
                    sleepBack();
                }
            });
        };
    }
    void TearDown() override { app.reset(); }

    void sleepBack() {
        machine.override = false;
        machine.rootState = false;
        scheduler.cancel(watcherPoll);
    }

    void make() {
        app.reset();
        AppParts parts{
            std::make_unique<PreferencesStore>(
                std::make_unique<PropertyListFile>(temp.path() + "/preferences.plist")),
            std::make_unique<LocalTaskRunner>(scheduler, shell, home),
            std::make_unique<AgentTrackingRun>(
                events, [this] { return AgentEventFiles::wallClockNow() + agentClockAhead; }, 10.0),
            [this](const std::string& executable, const std::string& cwd) {
                EXPECT_EQ(executable + " " + cwd, "/opt/vesperon/bin/vesperon " + home);
                return codexAnswer;
            }};
        app = std::make_unique<AppDelegate>(
            AppServices{ui, scheduler, privileged, notifier, hotKey, workspace, machine},
            AppEnvironment{"/opt/vesperon/bin/vesperon", home, tmp, 4242, "help@vesperon.test"},
            std::move(parts));
        app->applicationDidFinishLaunching();
    }

    void startVerified(int seconds = 3600) {
        app->start(seconds);
        ASSERT_EQ(privileged.pending.size(), 1u);
        privileged.respond(true);
        scheduler.advance(3.0);
        ASSERT_EQ(app->statusLine(), "Active — ready to close lid");
    }

    // Moves the virtual clock while real time passes (up to 20 s), for child processes.
    bool runUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 2000 && !done(); ++i) {
            scheduler.advance(0.05);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    }

    bool sawStatus(const std::string& text) const {
        return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
    }
};

} // namespace vesperon::testing
