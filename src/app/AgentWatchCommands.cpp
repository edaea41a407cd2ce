#include "app/AgentWatchCommands.hpp"

#include <iterator>
#include <optional>
#include <utility>

#include "agents/AgentConnectionSetup.hpp"

namespace vesperon {
namespace {

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

AgentWatchCommands::AgentWatchCommands(SessionControl& session, Ui& ui, Workspace& workspace,
                                       const LocalTaskRunner& taskRunner, Scheduler& scheduler,
                                       Where where, CodexTrustCheck codexTrustCheck)
    : session_(session), ui_(ui), workspace_(workspace), taskRunner_(taskRunner),
      where_(std::move(where)), codexTrustCheck_(std::move(codexTrustCheck)),
      mainQueue_(scheduler) {}

void AgentWatchCommands::watchAgents() {
    if (session_.busy() || taskRunner_.isRunning()) {
        return;
    }
    const DialogAnswer answer = ui_.runDialog(Dialogs::whatAreYouRunning());
    if (answer.button != firstButton || where_.executablePath.empty()) {
        return;
    }
    if (answer.selectedItem == terminalChoice) {
        session_.runTask();
        return;
    }
    if (answer.selectedItem == anotherAppChoice) {
        if (ui_.runDialog(Dialogs::useTimedSession()).button == firstButton) {
            session_.start(session_.selectedDuration());
        }
        return;
    }
    if (answer.selectedItem < 0 || answer.selectedItem >= static_cast<int>(std::size(providers))) {
        return;
    }
    const Provider& provider = providers[answer.selectedItem];
    const std::string name = provider.name;
    AgentConnectionSetup setup(where_.executablePath, where_.homeDirectory);

    const auto installed = setup.isInstalled(name);
    if (!installed) {
        session_.alert(AlertKind::CouldNotConnectAgent, installed.error().message);
        return;
    }
    if (!*installed) {
        if (ui_.runDialog(Dialogs::connectAgent(provider.displayName)).button != firstButton) {
            return;
        }
        if (auto done = setup.install(name); !done) {
            session_.alert(AlertKind::CouldNotConnectAgent, done.error().message);
            return;
        }
        if (name != "codex") {
            session_.alert(AlertKind::AgentConnected, {});
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
            session_.alert(AlertKind::CouldNotCheckClaudeCode, disabled.error().message);
            return;
        }
        if (*disabled) {
            session_.alert(AlertKind::ClaudeCodeHooksOff, {});
            return;
        }
        if (ui_.runDialog(Dialogs::checkClaudeCode()).button == firstButton) {
            beginAgentWatch("claude");
        }
        return;
    }
    if (ui_.runDialog(Dialogs::checkOpenCode()).button == firstButton) {
        beginAgentWatch("opencode");
    }
}

void AgentWatchCommands::runCodexCheck(bool recheckSessionState) {
    // A second request while one runs would only stack dialogs.
    if (codexCheckRunning_ || where_.executablePath.empty()) {
        return;
    }
    codexCheckRunning_ = true;
    auto answered = mainQueue_.later([this, recheckSessionState](const CodexHookTrust& outcome) {
        codexChecked(outcome, recheckSessionState);
    });
    background_.start([answered, check = codexTrustCheck_, where = where_] {
        answered(check ? check(where.executablePath, where.homeDirectory)
                       : CodexHookTrust::check(where.executablePath, where.homeDirectory));
    });
}

void AgentWatchCommands::codexChecked(const CodexHookTrust& outcome, bool recheckSessionState) {
    codexCheckRunning_ = false;
    if (recheckSessionState && session_.busy()) {
        return; // a session began meanwhile: the answer no longer applies
    }
    switch (outcome.kind()) {
    case CodexHookTrust::Kind::Trusted:
        beginAgentWatch("codex");
        break;
    case CodexHookTrust::Kind::NeedsReview:
        promptCodexTrust();
        break;
    case CodexHookTrust::Kind::Unavailable:
        session_.alert(AlertKind::AgentTrackingNotReady, outcome.message());
        break;
    }
}

void AgentWatchCommands::beginAgentWatch(const std::string& provider) {
    if (session_.busy()) {
        return;
    }
    if (ui_.runDialog(Dialogs::watchAgentWork()).button != firstButton) {
        return;
    }
    session_.startWatchingAgents(provider);
}

void AgentWatchCommands::promptCodexTrust() {
    const DialogAnswer answer = ui_.runDialog(Dialogs::trustCodex());
    if (answer.button == firstButton) {
        workspace_.openTerminal(mainQueue_.later([this](const std::optional<std::string>& error) {
            if (error) {
                session_.alert(AlertKind::CouldNotOpenTerminal, *error);
            }
        }));
    } else if (answer.button == secondButton) {
        runCodexCheck(false);
    }
}

void AgentWatchCommands::connectAgents() {
    if (where_.executablePath.empty()) {
        return;
    }
    const DialogAnswer answer = ui_.runDialog(Dialogs::connectCodingAgent());
    if (answer.button < 0 || answer.button >= static_cast<int>(std::size(providers))) {
        return;
    }
    AgentConnectionSetup setup(where_.executablePath, where_.homeDirectory);
    const auto written = setup.install(providers[answer.button].name);
    if (!written) {
        session_.alert(AlertKind::CouldNotConnectAgent, written.error().message);
        return;
    }
    session_.alert(AlertKind::AgentHooksAdded, AlertDetail::agentHooksAdded(*written));
}

} // namespace vesperon
