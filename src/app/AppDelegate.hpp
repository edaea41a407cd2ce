#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agents/AgentTrackingRun.hpp"
#include "agents/AgentTrackingSnapshot.hpp"
#include "app/AgentWatchCommands.hpp"
#include "app/Alerts.hpp"
#include "app/FinishReason.hpp"
#include "app/HotKey.hpp"
#include "app/MachineView.hpp"
#include "app/MainQueue.hpp"
#include "app/Notifier.hpp"
#include "app/Outcome.hpp"
#include "app/PresetCommands.hpp"
#include "app/PrivilegedRequest.hpp"
#include "app/SessionControl.hpp"
#include "app/SessionFolder.hpp"
#include "app/SessionPanel.hpp"
#include "app/SessionPhase.hpp"
#include "app/Ui.hpp"
#include "app/Workspace.hpp"
#include "common/Scheduler.hpp"
#include "preferences/PreferencesStore.hpp"
#include "tasks/LocalTaskRunner.hpp"

namespace vesperon {

// Where this process lives: fixed at start-up.
struct AppEnvironment {
    std::string executablePath; // empty when it cannot be known
    std::string homeDirectory;
    std::string temporaryDirectory;
    int processId = 0;
    std::string supportAddress;
};

// The world the controller reaches through narrow interfaces.
struct AppServices {
    Ui& ui;
    Scheduler& scheduler;
    PrivilegedRequest& privileged;
    Notifier& notifier;
    HotKey& hotKey;
    Workspace& workspace;
    MachineView& machine;
};

// The parts the controller owns for the life of the process, made by the caller so
// that tests can point them at temporary folders.
struct AppParts {
    std::unique_ptr<PreferencesStore> preferences;
    std::unique_ptr<LocalTaskRunner> taskRunner;
    std::unique_ptr<AgentTrackingRun> agentTracking;
    CodexTrustCheck codexTrustCheck;
};

// The session controller: the single owner of the session state. It starts a
// session through the administrator prompt and verifies it, renews the heartbeat and
// counts down on the sleep-counting clock every 2 seconds, ends the session for
// every reason (time, battery, heat, agents, task, lost override, lost heartbeat,
// the user, automation, quitting) by writing the stop file, sees normal sleep come
// back, and restores it through the prompt when anything is stuck. Where it is in a
// session is one SessionPhase; the busy flags derive from it. The preset and
// agent-watch dialogs are collaborators it owns. Main thread only; work finished
// elsewhere comes back through the scheduler's main queue.
class AppDelegate final : public PanelOwner, public SessionControl {
  public:
    enum class TerminateReply { Now, Cancel };

    AppDelegate(AppServices services, AppEnvironment environment, AppParts parts);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Launch: the panel, the 2-second timer, the shortcut, one tick, and the
    // recovery hint when an earlier session's root state is still there.
    void applicationDidFinishLaunching();

    // Session operations.
    void start(int seconds) override;
    void stop() override;
    void restore() override;
    void tick();
    [[nodiscard]] std::optional<double> remainingSeconds() const;
    void notifySessionEnded(const Finish& finish);
    void quit();
    [[nodiscard]] TerminateReply applicationShouldTerminate();

    // Shortcut, switches, URLs, help.
    void toggleHotKey();
    void login();
    void toggleSessionAlerts();
    void toggleAutomation();
    void openURLs(const std::vector<std::string>& urls);
    void support();
    // Opens a link with the desktop's handler; where none can, an alert gives its address.
    void openLink(const std::string& url);
    void about();

    // Presets and the custom duration, handed to their commands.
    void customDuration() { presets_.customDuration(); }
    void savePreset() { presets_.savePreset(); }
    void selectPreset(std::string_view presetId) { presets_.selectPreset(presetId); }
    void deletePreset() { presets_.deletePreset(); }

    // Tasks, and the agent-watch commands.
    void runTask() override;
    void watchAgents() override { agents_.watchAgents(); }
    void beginAgentWatch(const std::string& provider) { agents_.beginAgentWatch(provider); }
    void promptCodexTrust() { agents_.promptCodexTrust(); }
    void connectAgents() { agents_.connectAgents(); }

    // What the commands ask of the session (SessionControl).
    [[nodiscard]] bool busy() const override {
        return sessionRunning() || starting() || stopping() || restoring();
    }
    [[nodiscard]] int selectedDuration() const override;
    void startWatchingAgents(const std::string& provider) override;
    void preferenceWritten(const Result<void>& written) override;
    void alert(AlertKind kind, std::string_view text = {}) override;
    void refreshPanel() override;

    // The panel (after launch) and what it reads.
    [[nodiscard]] SessionPanel* panel() override { return panel_.get(); }
    [[nodiscard]] PanelOwnerState panelState() const override;
    void storeLastDuration(int seconds) override;
    void setFinishReason(FinishReason reason) override { finish_ = reason; }

    // State, read by the views and by tests.
    SessionPhase phase() const { return phase_; }
    // A start request is in flight (prompt, helper, or the verification).
    bool starting() const { return startInFlight(phase_); }
    // The stop file has been asked for and normal sleep is not back: also under a start
    // or a restore in flight.
    bool stopping() const {
        return stopInFlight(phase_) || (starting() && cancellation_ != Cancellation::None) ||
               (restoring() && stopInFlight(beforeRestore_));
    }
    // A restore request is in flight.
    bool restoring() const { return phase_ == SessionPhase::Restoring; }
    // The session is running exactly while it has an end.
    bool sessionRunning() const { return end_.has_value(); }
    // The stop needs the user's restore: its file could not be written, or normal sleep
    // is overdue.
    bool needsAttention() const {
        return phase_ == SessionPhase::NeedsAttention ||
               (starting() && cancellation_ == Cancellation::StopUnwritten) ||
               (restoring() && beforeRestore_ == SessionPhase::NeedsAttention);
    }
    const std::string& statusLine() const { return status_; }
    const std::string& statusItemTitle() const { return statusItemTitle_; }
    std::optional<std::string> lastOutcome() const;
    std::string finishReason() const { return finish_.text(); }
    const std::optional<MachineView::WallClock::time_point>& end() const { return end_; }
    bool watchingAgents() const { return watchingAgents_; }
    const std::optional<AgentTrackingSnapshot>& agentSnapshot() const { return agentSnapshot_; }
    const std::optional<std::string>& pendingCommand() const { return pendingCommand_; }
    bool pendingAgentWatch() const { return pendingAgentWatch_; }
    [[nodiscard]] std::optional<std::string> sessionFolder() const;
    double sessionDuration() const { return sessionDuration_; }
    const AppEnvironment& environment() const { return environment_; }
    PreferencesStore& preferences() { return *preferences_; }
    LocalTaskRunner& taskRunner() { return *taskRunner_; }
    AgentTrackingRun& agentTracking() { return *agentTracking_; }
    // Background checks (Codex) still running.
    [[nodiscard]] std::size_t backgroundWork() const { return agents_.backgroundWork(); }

  private:
    // A stop asked for while a start is in flight: the stop file is written at once,
    // and the start ends in that stop when it is answered.
    enum class Cancellation {
        None,
        Requested,
        StopUnwritten, // the stop file could not be written; the status line says so
    };

    void setStatus(std::string_view text);
    void setStatusItemTitle(std::string title);
    void terminate();

    void setupAnswered(bool success, const std::string& output);
    void setupRefused(const std::string& output);
    void verify();
    // The start in flight is over and ends in a stop, timed from any asked for meanwhile.
    void stopAfterStart();
    void taskCompleted(int status);
    void restoreAnswered(bool success, const std::string& output);

    // The tick's checks, in the order it runs them.
    void renewHeartbeat();
    void checkAgents();
    // Returns the remaining seconds, when known.
    std::optional<double> checkTimer();
    void checkBattery();
    void checkHeat();
    void checkOverride(std::optional<double> remaining);
    void checkStopOverdue();

    // Where a stop leaves the phase, given whether its file was written.
    void enterStop(bool written);
    // Normal sleep is back: the root state has gone and the override reads off.
    bool sleepRestored();
    // The stopping session is over: torn down, and the user told why it ended.
    void endSession();
    // No session left: no end, no stop under way, no session folder, no time shown.
    void clearSession();
    // The look for the end of a stop between ticks, four times a second while stopping.
    void checkRestored();
    void cancelRestoreCheck();
    // What a start was to launch once verified.
    void clearPendingStart();
    // That, and the task and the agent watch of the running session.
    void clearPendingWork();

    AppServices services_;
    AppEnvironment environment_;
    std::unique_ptr<PreferencesStore> preferences_;
    std::unique_ptr<LocalTaskRunner> taskRunner_;
    std::unique_ptr<AgentTrackingRun> agentTracking_;

    bool pendingAgentWatch_ = false;
    std::optional<std::string> pendingAgentProvider_;
    bool watchingAgents_ = false;
    std::optional<AgentTrackingSnapshot> agentSnapshot_;
    std::optional<std::string> pendingCommand_;
    SessionPhase phase_ = SessionPhase::Idle;
    Cancellation cancellation_ = Cancellation::None;  // while starting
    SessionPhase beforeRestore_ = SessionPhase::Idle; // while restoring: where a failure leaves it
    std::optional<double> sessionStarted_;
    double sessionDuration_ = 0;
    std::optional<double> stoppingStarted_;
    std::optional<Outcome> lastOutcome_;
    Finish finish_;
    std::unique_ptr<SessionPanel> panel_;
    std::string statusItemTitle_;
    std::string status_;
    std::optional<MachineView::WallClock::time_point> end_;
    std::optional<SessionFolder> dir_;
    bool quitAfterStop_ = false;
    Scheduler::TimerId timer_ = 0;
    Scheduler::TimerId restoreCheck_ = 0; // while stopping

    // Timers, answers and other threads reach this object only through here: after
    // destruction their calls do nothing.
    MainQueue mainQueue_;
    PresetCommands presets_;
    AgentWatchCommands agents_; // last: its background checks end before the rest goes
};

} // namespace vesperon
