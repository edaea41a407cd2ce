#pragma once

// Scripted stand-ins for the controller's seams, driven by a virtual clock.
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "VirtualScheduler.hpp"
#include "app/HotKey.hpp"
#include "app/Machine.hpp"
#include "app/Notifier.hpp"
#include "app/PrivilegedRequest.hpp"
#include "app/Ui.hpp"
#include "app/Workspace.hpp"

namespace vesperon::testing {

struct ShownAlert {
    std::string title;
    std::string message;
    friend bool operator==(const ShownAlert&, const ShownAlert&) = default;
};

class FakeUi final : public Ui {
  public:
    std::vector<ShownAlert> alerts;
    std::vector<DialogRequest> dialogs;        // every dialog shown, in order
    std::deque<DialogAnswer> answers;          // scripted answers, consumed in order
    std::vector<std::string> statusItemTitles; // every title set
    int refreshes = 0;
    int focusRequests = 0;
    int aboutShown = 0;
    int terminations = 0;
    std::function<void()> onRefresh;
    // Runs while an alert is up (an alert is modal: the main loop goes on underneath).
    std::function<void()> duringAlert;

    void alert(const std::string& title, const std::string& message) override {
        alerts.push_back({title, message});
        if (duringAlert) {
            auto during = std::move(duringAlert);
            during();
        }
    }
    DialogAnswer runDialog(const DialogRequest& request) override {
        dialogs.push_back(request);
        if (answers.empty()) {
            return DialogAnswer{static_cast<int>(request.buttons.size()) - 1, "", 0}; // Cancel
        }
        DialogAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void setStatusItemTitle(const std::string& title) override {
        statusItemTitles.push_back(title);
    }
    void refreshPanel() override {
        ++refreshes;
        if (onRefresh) {
            onRefresh();
        }
    }
    void focusCustomHours() override { ++focusRequests; }
    void showAbout() override { ++aboutShown; }
    void terminate() override { ++terminations; }

    void answer(int button, std::string text = {}, int selected = 0) {
        answers.push_back(DialogAnswer{button, std::move(text), selected});
    }
    std::vector<std::string> dialogTitles() const {
        std::vector<std::string> titles;
        for (const auto& d : dialogs) {
            titles.push_back(d.title);
        }
        return titles;
    }
};

// The machine: probes as plain fields, clocks tied to the virtual scheduler. Sleep
// moves the continuous clock and the wall clock but not the scheduler; a wall-clock
// change moves only the wall clock.
class FakeMachine final : public Machine {
  public:
    explicit FakeMachine(VirtualScheduler& scheduler) : scheduler_(scheduler) {}

    std::optional<bool> override = false;
    bool battery = true;
    int thermal = 0;
    bool rootState = false;
    double sleptSeconds = 0;
    double wallShift = 0;
    int overrideReads = 0;

    std::optional<bool> sleepDisabled() override {
        ++overrideReads;
        return override;
    }
    bool batterySafe() override { return battery; }
    int thermalState() override { return thermal; }
    bool rootStateExists() override { return rootState; }
    double continuousSeconds() override { return 1000.0 + scheduler_.now() + sleptSeconds; }
    WallClock::time_point now() override {
        return WallClock::time_point(std::chrono::seconds(1'800'000'000)) +
               std::chrono::duration_cast<WallClock::duration>(
                   std::chrono::duration<double>(scheduler_.now() + sleptSeconds + wallShift));
    }
    double wallSeconds() { return std::chrono::duration<double>(now().time_since_epoch()).count(); }

  private:
    VirtualScheduler& scheduler_;
};

// The administrator prompt: every request waits until the test answers it. Answers
// arrive through the main queue, as the real request's do.
class FakePrivileged final : public PrivilegedRequest {
  public:
    explicit FakePrivileged(VirtualScheduler& scheduler) : scheduler_(scheduler) {}

    struct Request {
        std::vector<std::string> arguments;
        Done done;
    };
    std::vector<std::vector<std::string>> requests; // every request, in order
    std::deque<Request> pending;
    // Runs as the request is answered successfully (the helper's side effects).
    std::function<void(const std::vector<std::string>&)> onSuccess;

    void auth(const std::vector<std::string>& arguments, Done done) override {
        requests.push_back(arguments);
        pending.push_back({arguments, std::move(done)});
    }
    void respond(bool success, std::string output = {}) {
        Request request = std::move(pending.front());
        pending.pop_front();
        if (success && onSuccess) {
            onSuccess(request.arguments);
        }
        scheduler_.post([request = std::move(request), success, output = std::move(output)] {
            request.done(success, output);
        });
        scheduler_.drain();
    }

  private:
    VirtualScheduler& scheduler_;
};

class FakeNotifier final : public Notifier {
  public:
    struct Posted {
        std::string identifier;
        std::string title;
        std::string body;
    };
    std::vector<Posted> posted;
    bool grant = true;
    int authorizationRequests = 0;

    void requestAuthorization(std::function<void(bool)> answer) override {
        ++authorizationRequests;
        // The answer comes on a thread of the service's choosing.
        std::thread([answer = std::move(answer), granted = grant] { answer(granted); }).join();
    }
    void post(const std::string& identifier, const std::string& title,
              const std::string& body) override {
        posted.push_back({identifier, title, body});
    }
};

class FakeHotKey final : public HotKey {
  public:
    bool available = true;
    std::function<void()> pressed;

    bool registerShortcut(std::function<void()> callback) override {
        if (!available) {
            return false;
        }
        pressed = std::move(callback);
        return true;
    }
    // A press arrives on the event handler's thread.
    void press() {
        std::thread([this] { pressed(); }).join();
    }
};

class FakeWorkspace final : public Workspace {
  public:
    std::vector<std::string> opened;
    int terminalOpens = 0;
    std::optional<std::string> terminalError;

    void openURL(const std::string& url) override { opened.push_back(url); }
    void openTerminal(std::function<void(std::optional<std::string>)> done) override {
        ++terminalOpens;
        std::thread([done = std::move(done), error = terminalError] { done(error); }).join();
    }
};

} // namespace vesperon::testing
