#include "app/AppDelegate.hpp"

#include <algorithm>
#include <cmath>

#include "agents/AgentConnectionSetup.hpp"
#include "app/DurationText.hpp"
#include "app/FinishReason.hpp"
#include "app/LoginItem.hpp"
#include "app/StatusLine.hpp"
#include "preferences/AutomationAction.hpp"
#include "preferences/UnicodeText.hpp"

namespace vesperon {
namespace {

constexpr double tickSeconds = 2.0;
constexpr double verificationDelay = 3.0;
constexpr double stopPatience = 30.0;
constexpr int minimumSeconds = 60;
constexpr int maximumSeconds = 86400;

struct Provider {
    const char* displayName;
    const char* name;
};
constexpr Provider providers[] = {
    {"Codex", "codex"}, {"Claude Code", "claude"}, {"OpenCode", "opencode"}};

// The dialog's menu of work: the three agents, then these two.
constexpr int terminalChoice = 3;
constexpr int anotherAppChoice = 4;
constexpr int firstButton = 0;
constexpr int secondButton = 1;

} // namespace

AppDelegate::AppDelegate(AppServices services, AppEnvironment environment, AppParts parts)
    : services_(services), environment_(std::move(environment)),
      preferences_(std::move(parts.preferences)), taskRunner_(std::move(parts.taskRunner)),
      agentTracking_(std::move(parts.agentTracking)),
      codexTrustCheck_(std::move(parts.codexTrustCheck)), finishReason_(FinishReason::sessionEnded),
      status_(StatusLine::ready), self_(std::make_shared<AppDelegate*>(this)) {}

AppDelegate::~AppDelegate() {
    if (timer_ != 0) {
        services_.scheduler.cancel(timer_);
    }
    *self_ = nullptr;
}

std::function<void(std::function<void()>)> AppDelegate::mainQueue() {
    std::weak_ptr<AppDelegate*> weak = self_;
    Scheduler& scheduler = services_.scheduler;
    return [weak, &scheduler](std::function<void()> work) {
        scheduler.post([weak, work = std::move(work)] {
            if (auto self = weak.lock(); self && *self != nullptr) {
                work();
            }
        });
    };
}

// ---------------------------------------------------------------------------------
// Launch, status and the shared alert

void AppDelegate::applicationDidFinishLaunching() {
    panel_ = std::make_unique<SessionPanel>(this);
    panel_->setSelectedSeconds(
        static_cast<int>(std::min<std::int64_t>(preferences_->lastDuration(), maximumSeconds)));

    std::weak_ptr<AppDelegate*> weak = self_;
    timer_ = services_.scheduler.every(tickSeconds, [weak] {
        if (auto self = weak.lock(); self && *self != nullptr) {
            (*self)->tick();
        }
    });

    auto toMain = mainQueue();
    const bool registered = services_.hotKey.registerShortcut([toMain, weak] {
        toMain([weak] {
            if (auto self = weak.lock(); self && *self != nullptr) {
                (*self)->toggleHotKey();
            }
        });
    });
    if (!registered) {
        lastOutcome_ = Outcome::shortcutUnavailable;
    }

    tick();
    if (services_.machine.rootStateExists()) {
        setStatus(StatusLine::recoveryPending);
        refreshPanel();
    }
}

void AppDelegate::alert(AlertKind kind, std::string_view text) {
    const AlertText& entry = alertText(kind);
    services_.ui.alert(std::string(entry.title), std::string(text.empty() ? entry.text : text));
}

void AppDelegate::refreshPanel() {
    if (panel_) {
        services_.ui.refreshPanel();
    }
}

void AppDelegate::setStatus(std::string_view text) {
    status_ = text;
}

void AppDelegate::setStatusItemTitle(std::string title) {
    if (title != statusItemTitle_) {
        statusItemTitle_ = std::move(title);
        services_.ui.setStatusItemTitle(statusItemTitle_);
    }
}

int AppDelegate::selectedDuration() const {
    if (panel_) {
        return panel_->selectedSeconds();
    }
    return static_cast<int>(
        std::clamp<std::int64_t>(preferences_->lastDuration(), minimumSeconds, maximumSeconds));
}

void AppDelegate::terminate() {
    services_.ui.terminate();
}

std::optional<std::string> AppDelegate::sessionFolder() const {
    if (dir_) {
        return dir_->path();
    }
    return std::nullopt;
}

PanelOwnerState AppDelegate::panelState() const {
    PanelOwnerState state;
    state.end = end_;
    state.starting = starting_;
    state.stopping = stopping_;
    state.restoring = restoring_;
    state.watchingAgents = watchingAgents_;
    state.taskRunning = taskRunner_->isRunning();
    if (agentSnapshot_) {
        state.agentSummary = agentSnapshot_->summary;
    }
    state.remainingSeconds = remainingSeconds();
    state.statusLine = status_;
    state.lastOutcome = lastOutcome_;
    state.rootStateExists = services_.machine.rootStateExists();
    return state;
}

void AppDelegate::storeLastDuration(int seconds) {
    (void)preferences_->setLastDuration(seconds);
}

// ---------------------------------------------------------------------------------
// Starting

void AppDelegate::start(int seconds) {
    if (end_ || starting_ || stopping_ || restoring_) {
        return;
    }
    if (seconds < minimumSeconds || seconds > maximumSeconds) {
        pendingCommand_.reset();
        return;
    }
    if (services_.machine.rootStateExists()) {
        alert(AlertKind::SessionNeedsAttention);
        return;
    }
    if (!services_.machine.batterySafe() ||
        services_.machine.thermalState() >= Machine::seriousThermalState) {
        alert(AlertKind::SessionCannotStart);
        return;
    }
    auto folder = SessionFolder::create(environment_.temporaryDirectory);
    if (!folder) {
        alert(AlertKind::CouldNotPrepareSession, folder.error().message);
        return;
    }

    dir_ = std::move(*folder);
    starting_ = true;
    cancellationRequested_ = false;
    lastOutcome_.reset();
    sessionDuration_ = seconds;
    if (panel_) {
        panel_->setTotalSeconds(seconds);
    }
    (void)preferences_->setLastDuration(seconds);
    setStatus(StatusLine::waitingForAuthorization);
    refreshPanel();

    std::weak_ptr<AppDelegate*> weak = self_;
    services_.privileged.auth({"--setup", std::to_string(environment_.processId),
                               std::to_string(seconds), dir_->heartbeatPath(), dir_->stopPath()},
                              [weak](bool success, std::string output) {
                                  if (auto self = weak.lock(); self && *self != nullptr) {
                                      (*self)->setupAnswered(success, output);
                                  }
                              });
}

void AppDelegate::setupAnswered(bool success, const std::string& output) {
    if (!success) {
        starting_ = false;
        pendingCommand_.reset();
        pendingAgentWatch_ = false;
        pendingAgentProvider_.reset();
        setStatus(StatusLine::notStarted);
        if (!services_.machine.rootStateExists()) {
            if (dir_) {
                dir_->remove();
            }
            dir_.reset();
            stopping_ = false;
            stoppingStarted_.reset();
        } else {
            // The helper left state behind: end it through the watcher like any session.
            end_ = services_.machine.now();
            sessionStarted_ = services_.machine.continuousSeconds();
            stop();
        }
        alert(AlertKind::SessionNotStarted, output);
        refreshPanel();
        if (quitAfterStop_ && !stopping_) {
            terminate();
        }
        return;
    }

    sessionStarted_ = services_.machine.continuousSeconds();
    end_ = services_.machine.now() + std::chrono::duration_cast<Machine::WallClock::duration>(
                                         std::chrono::duration<double>(sessionDuration_));
    setStatus(StatusLine::checking);
    refreshPanel();
    std::weak_ptr<AppDelegate*> weak = self_;
    services_.scheduler.after(verificationDelay, [weak] {
        if (auto self = weak.lock(); self && *self != nullptr) {
            (*self)->verify();
        }
    });
}

void AppDelegate::verify() {
    starting_ = false;
    if (cancellationRequested_) {
        stop();
        return;
    }
    const std::optional<bool> override = services_.machine.sleepDisabled();
    if (!(override == true && services_.machine.rootStateExists())) {
        finishReason_ = FinishReason::startNotVerified;
        stop();
        alert(AlertKind::SessionDidNotStart);
        return;
    }

    setStatus(StatusLine::active);
    if (pendingAgentWatch_) {
        pendingAgentWatch_ = false;
        auto armed = agentTracking_->arm(pendingAgentProvider_);
        if (!armed) {
            finishReason_ = FinishReason::agentTrackingFailed;
            stop();
            alert(AlertKind::CouldNotWatchAgents, armed.error().message);
            return;
        }
        pendingAgentProvider_.reset();
        watchingAgents_ = true;
        agentSnapshot_ = agentTracking_->poll();
    }
    if (pendingCommand_) {
        const std::string command = std::move(*pendingCommand_);
        pendingCommand_.reset();
        std::weak_ptr<AppDelegate*> weak = self_;
        auto launched = taskRunner_->launch(command, [weak](int status) {
            if (auto self = weak.lock(); self && *self != nullptr) {
                (*self)->taskCompleted(status);
            }
        });
        if (!launched) {
            finishReason_ = FinishReason::taskCouldNotStart;
            stop();
            alert(AlertKind::TaskCouldNotStart, launched.error().message);
            return;
        }
    }
    tick();
}

void AppDelegate::taskCompleted(int status) {
    if (!end_ || stopping_) {
        return;
    }
    finishReason_ = FinishReason::taskFinished(status);
    stop();
}

// ---------------------------------------------------------------------------------
// Monitoring and ending

std::optional<double> AppDelegate::remainingSeconds() const {
    if (sessionStarted_ && end_) {
        const double elapsed = services_.machine.continuousSeconds() - *sessionStarted_;
        return std::max(0.0, sessionDuration_ - elapsed);
    }
    if (end_) {
        return std::chrono::duration<double>(*end_ - services_.machine.now()).count();
    }
    return std::nullopt;
}

void AppDelegate::tick() {
    if (dir_ && !stopping_) {
        if (!dir_->renewHeartbeat()) {
            finishReason_ = FinishReason::connectionLost;
            stop();
        }
    }
    if (starting_ || restoring_) {
        refreshPanel();
        return;
    }
    if (end_ && !stopping_) {
        // Every check runs; when several apply, the last reason stands.
        if (watchingAgents_) {
            agentSnapshot_ = agentTracking_->poll();
            if (agentSnapshot_->shouldFinish) {
                finishReason_ = FinishReason::agentWorkFinished;
                stop();
            }
        }
        const std::optional<double> remaining = remainingSeconds();
        if (remaining) {
            end_ =
                services_.machine.now() + std::chrono::duration_cast<Machine::WallClock::duration>(
                                              std::chrono::duration<double>(*remaining));
            if (*remaining <= 0) {
                finishReason_ = FinishReason::timerEnded;
                stop();
            }
        }
        if (!services_.machine.batterySafe()) {
            finishReason_ = FinishReason::battery;
            stop();
        }
        if (services_.machine.thermalState() >= Machine::seriousThermalState) {
            finishReason_ = FinishReason::heat;
            stop();
        }
        if (!stopping_) {
            if (services_.machine.sleepDisabled() == true && services_.machine.rootStateExists()) {
                setStatusItemTitle(vesperon::statusItemTitle(remaining.value_or(0.0)));
                setStatus(StatusLine::active);
            } else {
                finishReason_ = FinishReason::protectionEnded;
                stop();
            }
        }
    }
    if (stopping_) {
        if (!services_.machine.rootStateExists() && services_.machine.sleepDisabled() == false) {
            end_.reset();
            sessionStarted_.reset();
            stoppingStarted_.reset();
            stopping_ = false;
            if (dir_) {
                dir_->remove();
                dir_.reset();
            }
            setStatusItemTitle("");
            notifySessionEnded(finishReason_);
            lastOutcome_ = Outcome::ended(finishReason_);
            setStatus(StatusLine::restored);
            finishReason_ = FinishReason::sessionEnded;
            if (quitAfterStop_) {
                refreshPanel();
                terminate();
                return;
            }
        } else if (stoppingStarted_ &&
                   services_.machine.continuousSeconds() - *stoppingStarted_ > stopPatience) {
            setStatus(StatusLine::needsAttention);
            lastOutcome_ = Outcome::useRestore;
        }
    }
    refreshPanel();
}

void AppDelegate::clearPendingWork() {
    pendingCommand_.reset();
    pendingAgentWatch_ = false;
    pendingAgentProvider_.reset();
    taskRunner_->cancel();
    agentTracking_->disarm();
    watchingAgents_ = false;
    agentSnapshot_.reset();
}

void AppDelegate::stop() {
    cancellationRequested_ = true;
    clearPendingWork();
    if (!dir_) {
        return;
    }
    if (!stopping_) {
        stoppingStarted_ = services_.machine.continuousSeconds();
    }
    stopping_ = true;
    setStatus(StatusLine::restoring);
    if (!dir_->writeStop()) {
        setStatus(StatusLine::stopRequestFailed);
    }
    refreshPanel();
}

void AppDelegate::notifySessionEnded(std::string_view reason) {
    if (!preferences_->sessionAlertsEnabled()) {
        return;
    }
    services_.notifier.post(newUuidText(), std::string(reason), "Vesperon restored normal sleep.");
}

void AppDelegate::restore() {
    if (starting_ || restoring_) {
        return;
    }
    clearPendingWork();
    restoring_ = true;
    refreshPanel();
    std::weak_ptr<AppDelegate*> weak = self_;
    services_.privileged.auth({"--restore"}, [weak](bool success, std::string output) {
        auto self = weak.lock();
        if (!self || *self == nullptr) {
            return;
        }
        AppDelegate& app = **self;
        app.restoring_ = false;
        if (!success) {
            app.alert(AlertKind::SleepRestorationNeedsAttention, output);
            app.refreshPanel();
            return;
        }
        app.end_.reset();
        app.sessionStarted_.reset();
        app.starting_ = false;
        app.stopping_ = false;
        app.stoppingStarted_.reset();
        app.setStatusItemTitle("");
        if (app.dir_) {
            app.dir_->remove();
            app.dir_.reset();
        }
        app.setStatus(StatusLine::restored);
        app.lastOutcome_ = Outcome::sleepRestored;
        app.refreshPanel();
        if (app.quitAfterStop_) {
            app.terminate();
        }
    });
}

void AppDelegate::quit() {
    if (applicationShouldTerminate() == TerminateReply::Now) {
        terminate();
    }
}

AppDelegate::TerminateReply AppDelegate::applicationShouldTerminate() {
    if (!(end_ || starting_ || stopping_ || restoring_)) {
        return TerminateReply::Now;
    }
    quitAfterStop_ = true;
    stop();
    return TerminateReply::Cancel;
}

// ---------------------------------------------------------------------------------
// Shortcut, switches, URLs, help

void AppDelegate::toggleHotKey() {
    if (restoring_) {
        return;
    }
    if (anySession()) {
        finishReason_ = FinishReason::endedManually;
        stop();
        return;
    }
    if (panel_ && !panel_->customValid()) {
        return;
    }
    start(selectedDuration());
}

void AppDelegate::login() {
    LoginItem item(environment_.homeDirectory, environment_.executablePath);
    if (auto toggled = item.toggle(); !toggled) {
        alert(AlertKind::CouldNotSaveLoginSetting, toggled.error().message);
    }
}

void AppDelegate::toggleSessionAlerts() {
    if (preferences_->sessionAlertsEnabled()) {
        (void)preferences_->setSessionAlertsEnabled(false);
        return;
    }
    auto toMain = mainQueue();
    services_.notifier.requestAuthorization([toMain, this](bool granted) {
        // Runs only while this object exists (mainQueue checks).
        toMain([this, granted] { (void)preferences_->setSessionAlertsEnabled(granted); });
    });
}

void AppDelegate::toggleAutomation() {
    (void)preferences_->setAutomationEnabled(!preferences_->automationEnabled());
}

void AppDelegate::openURLs(const std::vector<std::string>& urls) {
    if (!preferences_->automationEnabled() || urls.size() != 1) {
        return;
    }
    const auto action = AutomationAction::parse(urls.front());
    if (!action) {
        return;
    }
    if (action->kind() == AutomationAction::Kind::stop) {
        if (anySession()) {
            finishReason_ = FinishReason::endedByAutomation;
        }
        stop();
        return;
    }
    start(action->seconds());
}

void AppDelegate::support() {
    services_.workspace.openURL("mailto:" + environment_.supportAddress);
}

void AppDelegate::about() {
    services_.ui.showAbout();
}

// ---------------------------------------------------------------------------------
// Presets and the custom duration

void AppDelegate::customDuration() {
    if (panel_) {
        services_.ui.focusCustomHours();
    }
}

void AppDelegate::savePreset() {
    const DialogAnswer answer = services_.ui.runDialog(Dialogs::savePreset());
    if (answer.button != firstButton) {
        return;
    }
    if (auto saved = preferences_->savePreset(answer.text, selectedDuration()); !saved) {
        alert(AlertKind::PresetCouldNotBeSaved, describe(saved.error()));
    }
}

void AppDelegate::selectPreset(std::string_view presetId) {
    if (end_ || starting_ || stopping_ || presetId.empty()) {
        return;
    }
    for (const SavedPreset& preset : preferences_->presets()) {
        if (preset.id.text() != presetId) {
            continue;
        }
        const int seconds = static_cast<int>(preset.seconds);
        if (panel_) {
            panel_->choosePreset(seconds);
        }
        (void)preferences_->setLastDuration(seconds);
        refreshPanel();
        return;
    }
}

void AppDelegate::deletePreset() {
    const std::vector<SavedPreset> presets = preferences_->presets();
    if (presets.empty()) {
        const auto& message = preferences_->errorMessage();
        alert(AlertKind::NoPresetsSaved,
              message ? std::string_view(*message) : AlertDetail::firstPreset);
        return;
    }
    std::vector<std::string> names;
    for (const SavedPreset& preset : presets) {
        names.push_back(preset.name);
    }
    const DialogAnswer answer = services_.ui.runDialog(Dialogs::deletePreset(std::move(names)));
    if (answer.button != firstButton) {
        return;
    }
    if (answer.selectedItem < 0 ||
        static_cast<std::size_t>(answer.selectedItem) >= presets.size()) {
        return;
    }
    if (auto deleted =
            preferences_->deletePreset(presets[static_cast<std::size_t>(answer.selectedItem)].id);
        !deleted) {
        alert(AlertKind::PresetCouldNotBeDeleted, describe(deleted.error()));
    }
}

// ---------------------------------------------------------------------------------
// Tasks

void AppDelegate::runTask() {
    if (end_ || starting_ || stopping_ || restoring_ || taskRunner_->isRunning()) {
        return;
    }
    const DialogAnswer answer = services_.ui.runDialog(Dialogs::runTask());
    if (answer.button != firstButton) {
        return;
    }
    const std::optional<std::string> command = trimWhiteSpace(answer.text);
    if (!command || !LocalTaskRunner::acceptsCommand(*command)) {
        alert(AlertKind::EnterValidCommand);
        return;
    }
    pendingCommand_ = *command;
    start(selectedDuration());
    if (!starting_) {
        pendingCommand_.reset();
    }
}

// ---------------------------------------------------------------------------------
// Agents

void AppDelegate::watchAgents() {
    if (end_ || starting_ || stopping_ || restoring_ || taskRunner_->isRunning()) {
        return;
    }
    const DialogAnswer answer = services_.ui.runDialog(Dialogs::whatAreYouRunning());
    if (answer.button != firstButton || environment_.executablePath.empty()) {
        return;
    }
    if (answer.selectedItem == terminalChoice) {
        runTask();
        return;
    }
    if (answer.selectedItem == anotherAppChoice) {
        if (services_.ui.runDialog(Dialogs::useTimedSession()).button == firstButton) {
            start(selectedDuration());
        }
        return;
    }
    if (answer.selectedItem < 0 || answer.selectedItem >= static_cast<int>(std::size(providers))) {
        return;
    }
    const Provider& provider = providers[answer.selectedItem];
    const std::string name = provider.name;
    AgentConnectionSetup setup(environment_.executablePath, environment_.homeDirectory);

    const auto installed = setup.isInstalled(name);
    if (!installed) {
        alert(AlertKind::CouldNotConnectAgent, installed.error().message);
        return;
    }
    if (!*installed) {
        if (services_.ui.runDialog(Dialogs::connectAgent(provider.displayName)).button !=
            firstButton) {
            return;
        }
        if (auto done = setup.install(name); !done) {
            alert(AlertKind::CouldNotConnectAgent, done.error().message);
            return;
        }
        if (name != "codex") {
            alert(AlertKind::AgentConnected);
            return;
        }
    }
    if (name == "codex") {
        runCodexCheck(true);
        return;
    }
    if (name == "claude") {
        const auto disabled = setup.hooksDisabledInClaudeSettings();
        if (!disabled) {
            alert(AlertKind::CouldNotCheckClaudeCode, disabled.error().message);
            return;
        }
        if (*disabled) {
            alert(AlertKind::ClaudeCodeHooksOff);
            return;
        }
        if (services_.ui.runDialog(Dialogs::checkClaudeCode()).button == firstButton) {
            beginAgentWatch("claude");
        }
        return;
    }
    if (services_.ui.runDialog(Dialogs::checkOpenCode()).button == firstButton) {
        beginAgentWatch("opencode");
    }
}

void AppDelegate::runCodexCheck(bool recheckSessionState) {
    // One check at a time: a second request while one runs would only stack dialogs.
    if (codexCheckRunning_ || environment_.executablePath.empty()) {
        return;
    }
    codexCheckRunning_ = true;
    auto toMain = mainQueue();
    CodexTrustCheck check = codexTrustCheck_;
    const std::string executable = environment_.executablePath;
    const std::string cwd = environment_.homeDirectory;
    background_.start([toMain, check, executable, cwd, recheckSessionState, this] {
        const CodexHookTrust outcome =
            check ? check(executable, cwd) : CodexHookTrust::check(executable, cwd);
        toMain(
            [this, outcome, recheckSessionState] { codexChecked(outcome, recheckSessionState); });
    });
}

void AppDelegate::codexChecked(const CodexHookTrust& outcome, bool recheckSessionState) {
    codexCheckRunning_ = false;
    if (recheckSessionState && (end_ || starting_ || stopping_)) {
        return; // a session began meanwhile: the answer no longer applies
    }
    switch (outcome.kind()) {
    case CodexHookTrust::Kind::trusted:
        beginAgentWatch("codex");
        break;
    case CodexHookTrust::Kind::needsReview:
        promptCodexTrust();
        break;
    case CodexHookTrust::Kind::unavailable:
        alert(AlertKind::AgentTrackingNotReady, outcome.message());
        break;
    }
}

void AppDelegate::beginAgentWatch(const std::string& provider) {
    if (end_ || starting_ || stopping_ || restoring_) {
        return;
    }
    if (services_.ui.runDialog(Dialogs::watchAgentWork()).button != firstButton) {
        return;
    }
    pendingAgentWatch_ = true;
    pendingAgentProvider_ = provider;
    start(selectedDuration());
    if (!starting_) {
        pendingAgentWatch_ = false;
        pendingAgentProvider_.reset();
    }
}

void AppDelegate::promptCodexTrust() {
    const DialogAnswer answer = services_.ui.runDialog(Dialogs::trustCodex());
    if (answer.button == firstButton) {
        auto toMain = mainQueue();
        services_.workspace.openTerminal([toMain, this](std::optional<std::string> error) {
            if (error) {
                toMain(
                    [this, message = *error] { alert(AlertKind::CouldNotOpenTerminal, message); });
            }
        });
    } else if (answer.button == secondButton) {
        runCodexCheck(false);
    }
}

void AppDelegate::connectAgents() {
    if (environment_.executablePath.empty()) {
        return;
    }
    const DialogAnswer answer = services_.ui.runDialog(Dialogs::connectCodingAgent());
    if (answer.button < 0 || answer.button >= static_cast<int>(std::size(providers))) {
        return;
    }
    AgentConnectionSetup setup(environment_.executablePath, environment_.homeDirectory);
    const auto written = setup.install(providers[answer.button].name);
    if (!written) {
        alert(AlertKind::CouldNotConnectAgent, written.error().message);
        return;
    }
    alert(AlertKind::AgentHooksAdded, AlertDetail::agentHooksAdded(*written));
}

} // namespace vesperon
