#pragma once

// A whole controller on a virtual clock: scripted seams, real preferences file, real
// session folder, real task runner and real agent tracking run in a temporary home.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AppFakes.hpp"
#include "TempFolder.hpp"
#include "app/AppDelegate.hpp"
#include "preferences/PropertyListFile.hpp"

namespace vesperon::testing {

namespace fs = std::filesystem;

class AppScenario : public ::testing::Test {
  public:
    TempFolder temp;
    std::string home = temp.path() + "/home";
    std::string tmp = temp.path() + "/tmp";
    std::string events = temp.path() + "/events";
    VirtualScheduler scheduler;
    FakeUi ui;
    FakeMachine machine{scheduler};
    FakePrivileged privileged{scheduler};
    FakeNotifier notifier;
    FakeHotKey hotKey;
    FakeWorkspace workspace;
    std::function<CodexHookTrust(const std::string&, const std::string&)> codexCheck;
    double agentGrace = 0.3;
    std::unique_ptr<AppDelegate> app;

    // The recovery watcher as the controller sees it: setup leaves root state, the
    // override comes on a moment later, and the stop file ends both at the next
    // 2-second poll. Switch it off to make normal sleep stall.
    bool watcherResponds = true;
    std::string stopPath;
    Scheduler::TimerId watcherPoll = 0;
    std::vector<std::string> statuses; // the status line at every panel refresh

    void SetUp() override {
        fs::create_directories(home);
        fs::create_directories(tmp);
        ui.onRefresh = [this] {
            if (app && (statuses.empty() || statuses.back() != app->statusLine())) {
                statuses.push_back(app->statusLine());
            }
        };
        privileged.onSuccess = [this](const std::vector<std::string>& arguments) {
            if (arguments.at(0) == "--setup") {
                machine.rootState = true;
                stopPath = arguments.at(4);
                scheduler.after(0.5, [this] { machine.override = true; });
                watcherPoll = scheduler.every(2.0, [this] { watcherPolls(); });
            } else if (arguments.at(0) == "--restore") {
                machine.override = false;
                machine.rootState = false;
                scheduler.cancel(watcherPoll);
            }
        };
    }

    void TearDown() override { app.reset(); }

    void watcherPolls() {
        if (watcherResponds && fs::exists(stopPath)) {
            machine.override = false;
            machine.rootState = false;
            scheduler.cancel(watcherPoll);
        }
    }

    std::unique_ptr<PreferencesStore> makePreferences() {
        return std::make_unique<PreferencesStore>(
            std::make_unique<PropertyListFile>(temp.path() + "/preferences.plist"));
    }

    AppDelegate& make(bool launch = true) {
        AppParts parts;
        parts.preferences = makePreferences();
        parts.taskRunner = std::make_unique<LocalTaskRunner>(scheduler, "/bin/sh", home);
        parts.agentTracking = std::make_unique<AgentTrackingRun>(events, nullptr, agentGrace);
        parts.codexTrustCheck = [this](const std::string& executable, const std::string& cwd) {
            return codexCheck(executable, cwd);
        };
        AppEnvironment environment{"/opt/vesperon/bin/vesperon", home, tmp, 4242,
                                   "help@vesperon.test"};
        app = std::make_unique<AppDelegate>(
            AppServices{ui, scheduler, privileged, notifier, hotKey, workspace, machine},
            std::move(environment), std::move(parts));
        if (launch) {
            app->applicationDidFinishLaunching();
        }
        return *app;
    }

    // A start through the prompt, granted, and its verification 3 seconds later.
    void startVerified(int seconds = 3600) {
        app->start(seconds);
        ASSERT_EQ(privileged.pending.size(), 1u);
        privileged.respond(true);
        scheduler.advance(3.0);
        ASSERT_EQ(app->statusLine(), "Active — ready to close lid");
    }

    // Moves the virtual clock in small steps while real time passes, until `done`
    // holds or `realSeconds` have gone by; for real child processes.
    bool runUntil(const std::function<bool()>& done, double realSeconds = 10.0) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(static_cast<int>(realSeconds * 1000));
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            scheduler.advance(0.05);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    bool sawStatus(const std::string& text) const {
        return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
    }
};

} // namespace vesperon::testing
