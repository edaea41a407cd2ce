#include "app/Alerts.hpp"

#include <array>
#include <cstddef>
#include <string>
#include <utility>

#include "platform/PlatformWords.hpp"

namespace vesperon {
namespace {

// The one table of alert titles and fixed texts, in the order of AlertKind.
constexpr std::array alertTable{
    AlertText{"A session needs attention", "Restore normal sleep before starting another session."},
    AlertText{"Session cannot start", platformWords::cannotStartAdvice},
    AlertText{"Could not prepare session", ""},
    AlertText{"Session not started", ""},
    AlertText{"Session did not start",
              "Keep the lid open. The sleep setting or recovery watcher could not be verified."},
    AlertText{"Could not watch agents", ""},
    AlertText{"Task could not start", ""},
    AlertText{"Sleep restoration needs attention", ""},
    AlertText{"Could not save login setting", ""},
    AlertText{"Preset could not be saved", ""},
    AlertText{"No presets saved", ""},
    AlertText{"Preset could not be deleted", ""},
    AlertText{"Enter a valid command", "Commands must be between 1 byte and 16 KB."},
    AlertText{"Could not connect agent", ""},
    AlertText{"Agent connected", "Restart the agent, then click Watch agents again."},
    AlertText{"Agent tracking is not ready", ""},
    AlertText{"Could not check Claude Code", ""},
    AlertText{"Claude Code hooks are off",
              "Claude Code has disableAllHooks enabled. Turn hooks on in Claude Code settings, "
              "review the Vesperon hook in /hooks, then try again."},
    AlertText{"Could not open Terminal", ""},
    AlertText{"Agent hooks added", ""},
    AlertText{"Could not save setting", ""},
    AlertText{"Could not open the link", ""},
};
static_assert(alertTable.size() == static_cast<std::size_t>(AlertKind::CouldNotOpenLink) + 1);

DialogRequest dialog(std::string title, std::string message, std::vector<std::string> buttons) {
    DialogRequest request;
    request.title = std::move(title);
    request.message = std::move(message);
    request.buttons = std::move(buttons);
    return request;
}

} // namespace

const AlertText& alertText(AlertKind kind) {
    return alertTable[static_cast<std::size_t>(kind)];
}

std::string AlertDetail::linkNotOpened(std::string_view url) {
    constexpr std::string_view mail = "mailto:";
    if (url.starts_with(mail)) {
        return "No e-mail application is set up. Write to " + std::string(url.substr(mail.size())) +
               ".";
    }
    return "No web browser is set up. Open " + std::string(url) + " in a browser.";
}

std::string AlertDetail::agentHooksAdded(std::string_view savedPath) {
    return "Saved to " + std::string(savedPath) +
           ". Restart the agent. For Codex, review and trust these hooks before relying on "
           "tracking. Start a short agent session to check that Working changes to Finished.";
}

DialogRequest Dialogs::savePreset() {
    DialogRequest request = dialog("Save preset", "", {"Save", "Cancel"});
    request.textField = DialogRequest::TextField{"Preset name", 260, 26};
    return request;
}

DialogRequest Dialogs::deletePreset(std::vector<std::string> names) {
    DialogRequest request = dialog("Delete preset", "", {"Delete", "Cancel"});
    request.popUp = DialogRequest::PopUp{std::move(names), 0, "", 260, 28};
    return request;
}

DialogRequest Dialogs::runTask() {
    DialogRequest request =
        dialog("Run a task",
               "Enter a foreground shell command. It runs as your user from your home folder. The "
               "selected duration is a maximum: normal sleep returns as soon as the command "
               "exits. Ending the session stops the command and its child processes. Output is "
               "discarded; save logs in your command if needed.",
               {"Run & stay awake", "Cancel"});
    request.textField = DialogRequest::TextField{"e.g. /path/to/build.sh", 420, 28};
    return request;
}

DialogRequest Dialogs::whatAreYouRunning() {
    DialogRequest request =
        dialog("What are you running?",
               "Agent sessions can end when work finishes. Other apps use a timer.",
               {"Continue", "Cancel"});
    request.popUp = DialogRequest::PopUp{
        {"Codex", "Claude Code", "OpenCode", "Terminal command or script", "Another app"},
        0,
        "Work to keep running",
        280,
        28};
    return request;
}

DialogRequest Dialogs::useTimedSession() {
    return dialog(
        "Use a timed session",
        "Vesperon cannot tell when an ordinary app finishes its work. It will keep your " +
            std::string(platformWords::machine) +
            " awake for your selected time; you can end it early from the " +
            std::string(platformWords::statusArea) + ".",
        {"Start timed session", "Cancel"});
}

DialogRequest Dialogs::connectAgent(std::string_view displayName) {
    return dialog("Connect " + std::string(displayName),
                  "Vesperon needs a local agent hook to know when work starts and finishes. Add it "
                  "to this " +
                      std::string(platformWords::machine) + "?",
                  {"Connect", "Cancel"});
}

DialogRequest Dialogs::checkClaudeCode() {
    return dialog("Check Claude Code",
                  "In Claude Code, use /hooks to review the Vesperon command. Accept its workspace "
                  "trust prompt and restart Claude Code if you just connected it. Then start a new "
                  "task after Vesperon is ready.",
                  {"I've checked", "Cancel"});
}

DialogRequest Dialogs::checkOpenCode() {
    return dialog("Check OpenCode",
                  "OpenCode loads local plugins at startup. Restart OpenCode after connecting "
                  "Vesperon, then start a new task after Vesperon is ready.",
                  {"I've restarted", "Cancel"});
}

DialogRequest Dialogs::watchAgentWork() {
    return dialog("Watch agent work",
                  "Start or continue the task after this session is ready. Vesperon restores "
                  "normal sleep when observed work finishes. Approval prompts keep it awake.",
                  {"Start watching", "Cancel"});
}

DialogRequest Dialogs::trustCodex() {
    return dialog("Trust Vesperon in Codex",
                  "Codex has the Vesperon hooks but is skipping them until you review them. In "
                  "Terminal, run codex, enter /hooks, then review and trust the Vesperon commands. "
                  "Restart Codex and click Watch agents again. No awake session has started.",
                  {"Open Terminal", "Check again", "Cancel"});
}

DialogRequest Dialogs::connectCodingAgent() {
    return dialog("Connect a coding agent",
                  "Adds local event hooks while preserving your existing settings. Hooks send "
                  "session state only; prompts and answers are not saved. Codex hooks require "
                  "review and trust in Codex. Restart the agent after setup.",
                  {"Codex", "Claude Code", "OpenCode", "Cancel"});
}

} // namespace vesperon
