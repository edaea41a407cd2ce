#pragma once

// A whole controller on a virtual clock: scripted seams, and a real preferences file,
// session folder, task runner and agent tracking run in a temporary home.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "TempFolder.hpp"
#include "VirtualScheduler.hpp"
#include "agents/AgentEventFiles.hpp"
#include "app/AppDelegate.hpp"
#include "app/LiveMachineView.hpp"
#include "preferences/PropertyListFile.hpp"

namespace vesperon::testing {

namespace fs = std::filesystem;

class FakeUi final : public Ui {
  public:
    std::vector<std::string> alerts;  // titles, in order
    std::vector<std::string> dialogs; // titles, in order
    int terminations = 0;

    void alert(const std::string& title, const std::string&) override { alerts.push_back(title); }
    DialogAnswer runDialog(const DialogRequest& request) override {
        dialogs.push_back(request.title);
        return DialogAnswer{static_cast<int>(request.buttons.size()) - 1, "", 0};
    }
    void setStatusItemTitle(const std::string&) override {}
    void refreshPanel() override {}
    void focusCustomHours() override {}
    void showAbout() override {}
    void terminate() override { ++terminations; }
};

// Probes as plain fields, clocks on the virtual scheduler or, with `realClocks`, this
// machine's own. Sleep moves the continuous and the wall clock but not the scheduler;
// a clock change moves only the wall clock.
class FakeMachineView final : public MachineView {
  public:
    explicit FakeMachineView(VirtualScheduler& scheduler) : scheduler_(scheduler) {}
    std::optional<bool> override = false;
    bool battery = true, rootState = false, realClocks = false;
    int thermal = 0;
    double sleptSeconds = 0, wallShift = 0;

    std::optional<bool> sleepDisabled() override { return override; }
    bool batterySafe() override { return battery; }
    int thermalState() override { return thermal; }
    bool rootStateExists() override { return rootState; }
    double continuousSeconds() override {
        return (realClocks ? system_.continuousSeconds() : 1000.0 + scheduler_.now()) +
               sleptSeconds;
    }
    WallClock::time_point now() override {
        const auto base = realClocks ? system_.now()
                                     : WallClock::time_point(std::chrono::seconds(1'800'000'000)) +
                                           std::chrono::duration_cast<WallClock::duration>(
                                               std::chrono::duration<double>(scheduler_.now()));
        return base + std::chrono::duration_cast<WallClock::duration>(
                          std::chrono::duration<double>(sleptSeconds + wallShift));
    }

  private:
    VirtualScheduler& scheduler_;
    LiveMachineView system_;
};

// The administrator prompt: answered by the test, through the main queue.
class FakePrivileged final : public PrivilegedRequest {
  public:
    explicit FakePrivileged(VirtualScheduler& scheduler) : scheduler_(scheduler) {}
    std::vector<std::vector<std::string>> requests;
    std::deque<Done> pending;
    std::function<void(const std::vector<std::string>&)> onSuccess; // the helper's effects

    void auth(const std::vector<std::string>& arguments, Done done) override {
        requests.push_back(arguments);
        pending.push_back(std::move(done));
    }
    void respond(bool success, std::string output = {}) {
        Done done = std::move(pending.front());
        if (pending.pop_front(); success && onSuccess) {
            onSuccess(requests.back());
        }
        scheduler_.post([done = std::move(done), success, output = std::move(output)] {
            done(success, output);
        });
        scheduler_.drain();
    }

  private:
    VirtualScheduler& scheduler_;
};

// The services below answer on threads of their own, as the real ones may.
class FakeNotifier final : public Notifier {
  public:
    std::vector<std::string> posted; // titles

    void requestAuthorization(std::function<void(bool)> answer) override {
        std::thread([answer = std::move(answer)] { answer(true); }).join();
    }
    void post(const std::string&, const std::string& title, const std::string& body) override {
        posted.push_back(body == "Vesperon restored normal sleep." ? title : "wrong body");
    }
};

class FakeHotKey final : public HotKey {
  public:
    std::function<void()> pressed;
    bool registerShortcut(std::function<void()> callback) override {
        pressed = std::move(callback);
        return true;
    }
    void whenRefused(std::function<void()>) override {}
    void press() {
        std::thread([this] { pressed(); }).join();
    }
};

class FakeWorkspace final : public Workspace {
  public:
    bool openURL(const std::string&) override { return true; }
    void openTerminal(std::function<void(std::optional<std::string>)> done) override {
        done(std::nullopt);
    }
};

class AppScenario : public ::testing::Test {
  public:
    TempFolder temp;
    std::string home = temp.path() + "/home", tmp = temp.path() + "/tmp";
    std::string events = temp.path() + "/events", shell = "/bin/sh";
    std::string preferences = temp.path() + "/preferences.plist"; // session alerts on
    VirtualScheduler scheduler;
    FakeUi ui;
    FakeMachineView machine{scheduler};
    FakePrivileged privileged{scheduler};
    FakeNotifier notifier;
    FakeHotKey hotKey;
    FakeWorkspace workspace;
    std::unique_ptr<AppDelegate> app;

    bool watcherResponds = true; // false: the watcher stalls
    Scheduler::TimerId watcherPoll = 0;

    void SetUp() override {
        fs::create_directories(home);
        fs::create_directories(tmp);
        ASSERT_TRUE(PropertyListFile(preferences).setValue(PreferencesStore::alertsKey, true));
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
        machine.override = false, machine.rootState = false, scheduler.cancel(watcherPoll);
    }

    void make() {
        app.reset();
        AppParts parts{
            std::make_unique<PreferencesStore>(std::make_unique<PropertyListFile>(preferences)),
            std::make_unique<LocalTaskRunner>(scheduler, shell, home),
            std::make_unique<AgentTrackingRun>(events, &AgentEventFiles::wallClockNow, 10.0),
            [](const std::string&, const std::string&) { return CodexHookTrust::trusted(); }};
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

    // Moves the virtual clock in step with real time until `done` holds or `seconds`
    // of real time have passed.
    bool runUntil(const std::function<bool()>& done, double seconds) {
        const auto from = std::chrono::steady_clock::now();
        for (double moved = 0; !done();) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const double real =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
            if (real > seconds) {
                return false;
            }
            scheduler.advance(real - moved);
            moved = real;
        }
        return true;
    }
};

} // namespace vesperon::testing
