#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "agents/CodexHookTrust.hpp"
#include "app/BackgroundThreads.hpp"
#include "app/MainQueue.hpp"
#include "app/SessionControl.hpp"
#include "app/Ui.hpp"
#include "app/Workspace.hpp"
#include "tasks/LocalTaskRunner.hpp"

namespace vesperon {

// Asks Codex whether it trusts our hooks (CodexHookTrust::check by default). Blocking;
// runs on a background thread. Arguments: executable path, working folder.
using CodexTrustCheck =
    std::function<CodexHookTrust(const std::string& executablePath, const std::string& cwd)>;

// The dialogs through which the user asks for a session that ends when coding-agent
// work finishes, and connects an agent: which work to keep running, the agent's
// hooks (added when missing), Codex's trust in them, and the confirmation that hands
// the start to the session controller with a pending agent watch.
class AgentWatchCommands {
  public:
    struct Where {
        std::string executablePath; // empty when it cannot be known: the flows end silently
        std::string homeDirectory;
    };

    AgentWatchCommands(SessionControl& session, Ui& ui, Workspace& workspace,
                       const LocalTaskRunner& taskRunner, Scheduler& scheduler, Where where,
                       CodexTrustCheck codexTrustCheck);

    // The whole flow for watching agent work; nothing while busy or a task runs.
    void watchAgents();
    // Confirms, then starts the session with a pending agent watch.
    void beginAgentWatch(const std::string& provider);
    // Codex has our hooks but skips them until the user trusts them.
    void promptCodexTrust();
    // Adds a chosen agent's hooks without starting anything.
    void connectAgents();

    // Codex checks still running in the background.
    [[nodiscard]] std::size_t backgroundWork() const { return background_.running(); }

  private:
    // One check at a time, off the main thread; the answer comes back on the main
    // queue. From the watch flow it is dropped when a session began meanwhile.
    void runCodexCheck(bool recheckSessionState);
    void codexChecked(const CodexHookTrust& outcome, bool recheckSessionState);

    SessionControl& session_;
    Ui& ui_;
    Workspace& workspace_;
    const LocalTaskRunner& taskRunner_;
    Where where_;
    CodexTrustCheck codexTrustCheck_;
    bool codexCheckRunning_ = false;
    MainQueue mainQueue_;
    BackgroundThreads background_; // last: joined before everything above goes
};

} // namespace vesperon
