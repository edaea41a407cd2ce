#include "app/AppDelegate.hpp"

#include <algorithm>

#include "app/DurationText.hpp"
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
      agentTracking_(std::move(parts.agentTracking)), status_(StatusLine::ready),
      mainQueue_(services_.scheduler), presets_(*this, services_.ui, *preferences_),
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
            lastOutcome_ = Outcome(OutcomeKind::ShortcutUnavailable);
            refreshPanel();
        }
    }));
    if (!services_.hotKey.registerShortcut(mainQueue_.later([this] { toggleHotKey(); }))) {
        lastOutcome_ = Outcome(OutcomeKind::ShortcutUnavailable);
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

std::optional<std::string> AppDelegate::lastOutcome() const {
    if (lastOutcome_) {
        return lastOutcome_->text();
    }
    return std::nullopt;
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
    state.phase = phase_;
    state.stopping = stopping();
    state.attention = needsAttention();
    state.watchingAgents = watchingAgents_;
    state.taskRunning = taskRunner_->isRunning();
    if (agentSnapshot_) {
        state.agentSummary = agentSnapshot_->summary;
    }
    state.remainingSeconds = remainingSeconds();
    state.lastOutcome = lastOutcome();
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
        services_.machine.thermalState() >= MachineView::seriousThermalState) {
        alert(AlertKind::SessionCannotStart);
        return;
    }
    auto folder = SessionFolder::create(environment_.temporaryDirectory);
    if (!folder) {
        alert(AlertKind::CouldNotPrepareSession, folder.error().message);
        return;
    }

    dir_ = std::move(*folder);
    phase_ = SessionPhase::Authorizing;
    cancellation_ = Cancellation::None;
    // A reason belongs to one session: one given while nothing ran (an automation stop
    // during a restore) never names the next session's end.
    finish_ = {};
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
        setupRefused(output);
        return;
    }
    sessionStarted_ = services_.machine.continuousSeconds();
    end_ = services_.machine.now() + std::chrono::duration_cast<MachineView::WallClock::duration>(
                                         std::chrono::duration<double>(sessionDuration_));
    phase_ = SessionPhase::Verifying;
    setStatus(StatusLine::checking);
    if (cancellation_ == Cancellation::StopUnwritten) {
        cancellation_ = Cancellation::Requested; // the status line no longer shows it
    }
    refreshPanel();
    services_.scheduler.after(verificationDelay, mainQueue_.whileAlive([this] { verify(); }));
}

void AppDelegate::setupRefused(const std::string& output) {
    clearPendingStart();
    setStatus(StatusLine::notStarted);
    if (!services_.machine.rootStateExists()) {
        clearSession();
    } else {
        // The helper left state behind: end it through the watcher like any session.
        end_ = services_.machine.now();
        sessionStarted_ = services_.machine.continuousSeconds();
        stopAfterStart();
    }
    alert(AlertKind::SessionNotStarted, output);
    refreshPanel();
    if (quitAfterStop_ && !stopping()) {
        terminate();
    }
}

void AppDelegate::verify() {
    if (cancellation_ != Cancellation::None) {
        stopAfterStart();
        return;
    }
    const std::optional<bool> override = services_.machine.sleepDisabled();
    if (!(override == true && services_.machine.rootStateExists())) {
        finish_ = FinishReason::StartNotVerified;
        stopAfterStart();
        alert(AlertKind::SessionDidNotStart);
        return;
    }

    phase_ = SessionPhase::Active;
    setStatus(StatusLine::active);
    if (pendingAgentWatch_) {
        pendingAgentWatch_ = false;
        auto armed = agentTracking_->arm(pendingAgentProvider_);
        if (!armed) {
            finish_ = FinishReason::AgentTrackingFailed;
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
            finish_ = FinishReason::TaskCouldNotStart;
            stop();
            alert(AlertKind::TaskCouldNotStart, launched.error().message);
            return;
        }
    }
    tick();
}

void AppDelegate::stopAfterStart() {
    phase_ = SessionPhase::Stopping;
    cancellation_ = Cancellation::None;
    stop();
}

void AppDelegate::taskCompleted(int status) {
    if (!end_ || stopping()) {
        return;
    }
    finish_ = Finish::ofTask(status);
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
    renewHeartbeat();
    if (starting() || restoring()) {
        refreshPanel(); // the request in flight decides what comes next
        return;
    }
    if (phase_ == SessionPhase::Active) {
        // Every check runs; when several apply, the last reason stands.
        checkAgents();
        const std::optional<double> remaining = checkTimer();
        checkBattery();
        checkHeat();
        checkOverride(remaining);
    }
    if (stopInFlight(phase_)) {
        if (sleepRestored()) {
            endSession();
            return;
        }
        checkStopOverdue();
    }
    refreshPanel();
}

void AppDelegate::renewHeartbeat() {
    if (dir_ && !stopping() && !dir_->renewHeartbeat()) {
        finish_ = FinishReason::ConnectionLost;
        stop();
    }
}

void AppDelegate::checkAgents() {
    if (!watchingAgents_) {
        return;
    }
    agentSnapshot_ = agentTracking_->poll();
    if (agentSnapshot_->shouldFinish) {
        finish_ = FinishReason::AgentWorkFinished;
        stop();
    }
}

std::optional<double> AppDelegate::checkTimer() {
    const std::optional<double> remaining = remainingSeconds();
    if (remaining) {
        // The wall-clock end follows the sleep-counting clock.
        end_ =
            services_.machine.now() + std::chrono::duration_cast<MachineView::WallClock::duration>(
                                          std::chrono::duration<double>(*remaining));
        if (*remaining <= 0) {
            finish_ = FinishReason::TimerEnded;
            stop();
        }
    }
    return remaining;
}

void AppDelegate::checkBattery() {
    if (!services_.machine.batterySafe()) {
        finish_ = FinishReason::BatteryProtection;
        stop();
    }
}

void AppDelegate::checkHeat() {
    if (services_.machine.thermalState() >= MachineView::seriousThermalState) {
        finish_ = FinishReason::HeatProtection;
        stop();
    }
}

// A session no check has stopped must still have its override and root state; when
// either has gone, the watcher or the system has already ended it.
void AppDelegate::checkOverride(std::optional<double> remaining) {
    if (phase_ != SessionPhase::Active) {
        return;
    }
    if (services_.machine.sleepDisabled() == true && services_.machine.rootStateExists()) {
        setStatusItemTitle(vesperon::statusItemTitle(remaining.value_or(0.0)));
        setStatus(StatusLine::active);
    } else {
        finish_ = FinishReason::ProtectionEnded;
        stop();
    }
}

// Nothing is retried: the user is asked to restore, and the session still ends by
// itself if normal sleep comes back later.
void AppDelegate::checkStopOverdue() {
    if (stoppingStarted_ &&
        services_.machine.continuousSeconds() - *stoppingStarted_ > stopPatience) {
        phase_ = SessionPhase::NeedsAttention;
        setStatus(StatusLine::needsAttention);
        lastOutcome_ = Outcome(OutcomeKind::UseRestore);
    }
}

bool AppDelegate::sleepRestored() {
    // The override is read only once the root state has gone: the look that runs four
    // times a second while stopping is one lstat.
    return !services_.machine.rootStateExists() && services_.machine.sleepDisabled() == false;
}

void AppDelegate::endSession() {
    clearSession();
    notifySessionEnded(finish_);
    lastOutcome_ = Outcome::ended(finish_);
    setStatus(StatusLine::restored);
    finish_ = {};
    refreshPanel();
    if (quitAfterStop_) {
        terminate();
    }
}

void AppDelegate::clearSession() {
    cancelRestoreCheck();
    phase_ = SessionPhase::Idle;
    cancellation_ = Cancellation::None;
    end_.reset();
    sessionStarted_.reset();
    stoppingStarted_.reset();
    if (dir_) {
        dir_->remove();
        dir_.reset();
    }
    setStatusItemTitle("");
}

void AppDelegate::checkRestored() {
    if (!stopping()) {
        cancelRestoreCheck(); // ended otherwise: by a restore, or a failed start
        return;
    }
    // As in the tick: a start or a restore in flight decides first.
    if (stopInFlight(phase_) && sleepRestored()) {
        endSession();
    }
}

void AppDelegate::cancelRestoreCheck() {
    if (restoreCheck_ != 0) {
        services_.scheduler.cancel(restoreCheck_);
        restoreCheck_ = 0;
    }
}

void AppDelegate::clearPendingStart() {
    pendingCommand_.reset();
    pendingAgentWatch_ = false;
    pendingAgentProvider_.reset();
}

void AppDelegate::clearPendingWork() {
    clearPendingStart();
    taskRunner_->cancel();
    agentTracking_->disarm();
    watchingAgents_ = false;
    agentSnapshot_.reset();
}

void AppDelegate::stop() {
    clearPendingWork();
    if (!dir_) {
        return; // nothing was started: only the pending work goes
    }
    if (!stoppingStarted_) {
        stoppingStarted_ = services_.machine.continuousSeconds(); // repeated stops keep it
    }
    if (restoreCheck_ == 0) {
        restoreCheck_ = services_.scheduler.every(
            restoreCheckSeconds, mainQueue_.whileAlive([this] { checkRestored(); }));
    }
    setStatus(StatusLine::restoring);
    const bool written = dir_->writeStop().has_value();
    if (!written) {
        setStatus(StatusLine::stopRequestFailed);
    }
    enterStop(written);
    refreshPanel();
}

void AppDelegate::enterStop(bool written) {
    const SessionPhase next = written ? SessionPhase::Stopping : SessionPhase::NeedsAttention;
    if (starting()) {
        cancellation_ = written ? Cancellation::Requested : Cancellation::StopUnwritten;
    } else if (restoring()) {
        beforeRestore_ = next; // where a failed restore leaves it
    } else {
        phase_ = next;
    }
}

void AppDelegate::notifySessionEnded(const Finish& finish) {
    if (!preferences_->sessionAlertsEnabled()) {
        return;
    }
    services_.notifier.post(newUuidText(), finish.text(), "Vesperon restored normal sleep.");
}

void AppDelegate::restore() {
    if (starting() || restoring()) {
        return;
    }
    clearPendingWork();
    beforeRestore_ = phase_;
    phase_ = SessionPhase::Restoring;
    refreshPanel();
    services_.privileged.auth(
        {"--restore"}, mainQueue_.whileAlive([this](bool success, const std::string& output) {
            restoreAnswered(success, output);
        }));
}

void AppDelegate::restoreAnswered(bool success, const std::string& output) {
    phase_ = beforeRestore_;
    if (!success) {
        alert(AlertKind::SleepRestorationNeedsAttention, output);
        refreshPanel();
        return;
    }
    clearSession();
    setStatus(StatusLine::restored);
    lastOutcome_ = Outcome(OutcomeKind::SleepRestored);
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
    if (restoring()) {
        return;
    }
    if (busy()) {
        finish_ = FinishReason::EndedManually;
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
    if (action->kind() == AutomationAction::Kind::Stop) {
        if (busy()) {
            finish_ = FinishReason::EndedByAutomation;
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
    if (!starting()) {
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
    if (!starting()) {
        pendingAgentWatch_ = false;
        pendingAgentProvider_.reset();
    }
}

} // namespace vesperon
