#include "app/AppDelegate.hpp"

#include <algorithm>

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
// While stopping, how often the end of the root state is looked for between ticks: a
// look is one lstat, and the session's end shows within this of the watcher's restore.
constexpr double restoreCheckSeconds = 0.25;
constexpr int minimumSeconds = 60;
constexpr int maximumSeconds = 86400;

constexpr int firstButton = 0;

} // namespace

AppDelegate::AppDelegate(AppServices services, AppEnvironment environment, AppParts parts)
    : services_(services), environment_(std::move(environment)),
      preferences_(std::move(parts.preferences)), taskRunner_(std::move(parts.taskRunner)),
      agentTracking_(std::move(parts.agentTracking)), finishReason_(FinishReason::sessionEnded),
      status_(StatusLine::ready), mainQueue_(services_.scheduler),
      presets_(*this, services_.ui, *preferences_),
      agents_(*this, services_.ui, services_.workspace, *taskRunner_, services_.scheduler,
              {environment_.executablePath, environment_.homeDirectory},
              std::move(parts.codexTrustCheck)) {}

AppDelegate::~AppDelegate() {
    if (timer_ != 0) {
        services_.scheduler.cancel(timer_);
    }
    cancelRestoreCheck();
}

// ---------------------------------------------------------------------------------
// Launch, status and the shared alert

void AppDelegate::applicationDidFinishLaunching() {
    panel_ = std::make_unique<SessionPanel>(this);
    panel_->setSelectedSeconds(
        static_cast<int>(std::min<std::int64_t>(preferences_->lastDuration(), maximumSeconds)));

    timer_ = services_.scheduler.every(tickSeconds, mainQueue_.whileAlive([this] { tick(); }));
    services_.hotKey.whenRefused(mainQueue_.later([this] {
        if (!busy()) {
            lastOutcome_ = Outcome::shortcutUnavailable;
            refreshPanel();
        }
    }));
    if (!services_.hotKey.registerShortcut(mainQueue_.later([this] { toggleHotKey(); }))) {
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

void AppDelegate::preferenceWritten(const Result<void>& written) {
    if (!written) {
        alert(AlertKind::CouldNotSaveSetting, written.error().message);
    }
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
    preferenceWritten(preferences_->setLastDuration(seconds));
}

// ---------------------------------------------------------------------------------
// Starting

void AppDelegate::start(int seconds) {
    if (busy()) {
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
    // A reason belongs to one session: one given while nothing ran (an automation stop
    // during a restore) never names the next session's end.
    finishReason_ = FinishReason::sessionEnded;
    lastOutcome_.reset();
    sessionDuration_ = seconds;
    if (panel_) {
        panel_->setTotalSeconds(seconds);
    }
    setStatus(StatusLine::waitingForAuthorization);
    refreshPanel();
    preferenceWritten(preferences_->setLastDuration(seconds));

    services_.privileged.auth(
        {"--setup", std::to_string(environment_.processId), std::to_string(seconds),
         dir_->heartbeatPath(), dir_->stopPath()},
        mainQueue_.whileAlive(
            [this](bool success, const std::string& output) { setupAnswered(success, output); }));
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
    services_.scheduler.after(verificationDelay, mainQueue_.whileAlive([this] { verify(); }));
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
        auto launched = taskRunner_->launch(
            command, mainQueue_.whileAlive([this](int status) { taskCompleted(status); }));
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
        if (endIfRestored()) {
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

bool AppDelegate::endIfRestored() {
    // The override is read only once the root state has gone: the look that runs four
    // times a second while stopping is one lstat.
    if (services_.machine.rootStateExists() || services_.machine.sleepDisabled() != false) {
        return false;
    }
    cancelRestoreCheck();
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
    return true;
}

void AppDelegate::checkRestored() {
    if (!stopping_) {
        cancelRestoreCheck(); // ended otherwise: by a restore, or a failed start
        return;
    }
    // As in the tick: a start or a restore in flight decides first.
    if (!starting_ && !restoring_ && endIfRestored()) {
        refreshPanel();
        if (quitAfterStop_) {
            terminate();
        }
    }
}

void AppDelegate::cancelRestoreCheck() {
    if (restoreCheck_ != 0) {
        services_.scheduler.cancel(restoreCheck_);
        restoreCheck_ = 0;
    }
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
    if (restoreCheck_ == 0) {
        restoreCheck_ = services_.scheduler.every(
            restoreCheckSeconds, mainQueue_.whileAlive([this] { checkRestored(); }));
    }
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
    services_.privileged.auth(
        {"--restore"}, mainQueue_.whileAlive([this](bool success, const std::string& output) {
            restoreAnswered(success, output);
        }));
}

void AppDelegate::restoreAnswered(bool success, const std::string& output) {
    restoring_ = false;
    if (!success) {
        alert(AlertKind::SleepRestorationNeedsAttention, output);
        refreshPanel();
        return;
    }
    end_.reset();
    sessionStarted_.reset();
    starting_ = false;
    stopping_ = false;
    stoppingStarted_.reset();
    setStatusItemTitle("");
    if (dir_) {
        dir_->remove();
        dir_.reset();
    }
    setStatus(StatusLine::restored);
    lastOutcome_ = Outcome::sleepRestored;
    refreshPanel();
    if (quitAfterStop_) {
        terminate();
    }
}

void AppDelegate::quit() {
    if (applicationShouldTerminate() == TerminateReply::Now) {
        terminate();
    }
}

AppDelegate::TerminateReply AppDelegate::applicationShouldTerminate() {
    if (!busy()) {
        return TerminateReply::Now;
    }
    quitAfterStop_ = true;
    stop();
    return TerminateReply::Cancel;
}

// ---------------------------------------------------------------------------------
// Shortcut, switches, URLs, help

void AppDelegate::toggleHotKey() {
    // During a restore the shortcut waits: the restore decides how the session ends.
    if (restoring_) {
        return;
    }
    if (busy()) {
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
        preferenceWritten(preferences_->setSessionAlertsEnabled(false));
        return;
    }
    services_.notifier.requestAuthorization(mainQueue_.later([this](bool granted) {
        preferenceWritten(preferences_->setSessionAlertsEnabled(granted));
    }));
}

void AppDelegate::toggleAutomation() {
    preferenceWritten(preferences_->setAutomationEnabled(!preferences_->automationEnabled()));
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
        if (busy()) {
            finishReason_ = FinishReason::endedByAutomation;
        }
        stop();
        return;
    }
    start(action->seconds());
}

void AppDelegate::support() {
    openLink("mailto:" + environment_.supportAddress);
}

void AppDelegate::openLink(const std::string& url) {
    if (!services_.workspace.openURL(url)) {
        alert(AlertKind::CouldNotOpenLink, AlertDetail::linkNotOpened(url));
    }
}

void AppDelegate::about() {
    services_.ui.showAbout();
}

// ---------------------------------------------------------------------------------
// Tasks

void AppDelegate::runTask() {
    if (busy() || taskRunner_->isRunning()) {
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

void AppDelegate::startWatchingAgents(const std::string& provider) {
    if (busy()) {
        return; // the pending watch would attach to the start already in flight
    }
    pendingAgentWatch_ = true;
    pendingAgentProvider_ = provider;
    start(selectedDuration());
    if (!starting_) {
        pendingAgentWatch_ = false;
        pendingAgentProvider_.reset();
    }
}

} // namespace vesperon
