#pragma once

// Scripted stand-ins for the controller's seams, driven by a virtual clock.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <thread>

#include "VirtualScheduler.hpp"
#include "app/HotKey.hpp"
#include "app/Machine.hpp"
#include "app/Notifier.hpp"
#include "app/PrivilegedRequest.hpp"
#include "app/Ui.hpp"
#include "app/Workspace.hpp"

namespace vesperon::testing {

struct ShownAlert {
    std::string title, message;
    friend bool operator==(const ShownAlert&, const ShownAlert&) = default;
};

class FakeUi final : public Ui {
  public:
    std::vector<ShownAlert> alerts;
    std::vector<std::string> dialogs; // titles, in order
    std::deque<DialogAnswer> answers; // scripted; none left means the last button
    int aboutShown = 0, terminations = 0;
    std::function<void()> onRefresh;

    void alert(const std::string& title, const std::string& text) override {
        alerts.push_back({title, text});
    }
    DialogAnswer runDialog(const DialogRequest& request) override {
        dialogs.push_back(request.title);
        DialogAnswer answer{static_cast<int>(request.buttons.size()) - 1, "", 0};
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        return answer;
    }
    void setStatusItemTitle(const std::string&) override {}
    void refreshPanel() override { onRefresh ? onRefresh() : void(); }
    void focusCustomHours() override {}
    void showAbout() override { ++aboutShown; }
    void terminate() override { ++terminations; }
    void answer(int button, std::string text = {}, int selected = 0) {
        answers.push_back(DialogAnswer{button, std::move(text), selected});
    }
};

// Probes as plain fields, clocks on the virtual scheduler. Sleep moves the continuous
// and the wall clock but not the scheduler; a clock change moves only the wall clock.
class FakeMachine final : public Machine {
  public:
    explicit FakeMachine(VirtualScheduler& scheduler) : scheduler_(scheduler) {}
    std::optional<bool> override = false;
    bool battery = true, rootState = false;
    int thermal = 0;
    double sleptSeconds = 0, wallShift = 0;

    std::optional<bool> sleepDisabled() override { return override; }
    bool batterySafe() override { return battery; }
    int thermalState() override { return thermal; }
    bool rootStateExists() override { return rootState; }
    double continuousSeconds() override { return 1000.0 + scheduler_.now() + sleptSeconds; }
    WallClock::time_point now() override {
        return WallClock::time_point(std::chrono::seconds(1'800'000'000)) +
               std::chrono::duration_cast<WallClock::duration>(
                   std::chrono::duration<double>(scheduler_.now() + sleptSeconds + wallShift));
    }

  private:
    VirtualScheduler& scheduler_;
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
        pending.pop_front();
        if (success && onSuccess) {
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
    bool grant = true;
    int authorizationRequests = 0;

    void requestAuthorization(std::function<void(bool)> answer) override {
        ++authorizationRequests;
        std::thread([answer = std::move(answer), granted = grant] { answer(granted); }).join();
    }
    void post(const std::string&, const std::string& title, const std::string& body) override {
        EXPECT_EQ(body, "Vesperon restored normal sleep.");
        posted.push_back(title);
    }
};

class FakeHotKey final : public HotKey {
  public:
    bool available = true;
    std::function<void()> pressed;
    std::function<void()> refused;
    bool registerShortcut(std::function<void()> callback) override {
        pressed = std::move(callback);
        return available;
    }
    void whenRefused(std::function<void()> callback) override { refused = std::move(callback); }
    void press() {
        std::thread([this] { pressed(); }).join();
    }
};

class FakeWorkspace final : public Workspace {
  public:
    std::optional<std::string> terminalError;
    bool opens = true;
    std::vector<std::string> opened;
    bool openURL(const std::string& url) override {
        opened.push_back(url);
        return opens;
    }
    void openTerminal(std::function<void(std::optional<std::string>)> done) override {
        std::thread([done = std::move(done), error = terminalError] { done(error); }).join();
    }
};

} // namespace vesperon::testing
