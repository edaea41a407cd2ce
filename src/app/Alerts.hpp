#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesperon {

// Every plain alert the controller shows. The table in Alerts.cpp holds each
// alert's title and, where it never changes, its text; the others take their text
// (an error's description, the helper's output) at the call.
enum class AlertKind {
    SessionNeedsAttention,
    SessionCannotStart,
    CouldNotPrepareSession,
    SessionNotStarted,
    SessionDidNotStart,
    CouldNotWatchAgents,
    TaskCouldNotStart,
    SleepRestorationNeedsAttention,
    CouldNotSaveLoginSetting,
    PresetCouldNotBeSaved,
    NoPresetsSaved,
    PresetCouldNotBeDeleted,
    EnterValidCommand,
    CouldNotConnectAgent,
    AgentConnected,
    AgentTrackingNotReady,
    CouldNotCheckClaudeCode,
    ClaudeCodeHooksOff,
    CouldNotOpenTerminal,
    AgentHooksAdded,
    CouldNotSaveSetting,
    CouldNotOpenLink,
};

struct AlertText {
    std::string_view title;
    std::string_view text; // empty: the text is given at the call
};

const AlertText& alertText(AlertKind kind);

// Fixed texts that complete an alert whose text is partly variable.
namespace AlertDetail {
inline constexpr std::string_view firstPreset = "Save a duration to create your first preset.";
std::string agentHooksAdded(std::string_view savedPath);
// The address of a link no application could open, for the user to use by hand.
std::string linkNotOpened(std::string_view url);
} // namespace AlertDetail

// A modal dialog: a title, an informative text, buttons in order (the first is the
// default) and at most one accessory control. The answer names the button by its
// index and carries what the accessory control held.
struct DialogRequest {
    struct TextField {
        std::string placeholder;
        int width = 0;
        int height = 0;
    };
    struct PopUp {
        std::vector<std::string> items;
        int selected = 0;
        std::string accessibilityLabel;
        int width = 0;
        int height = 0;
    };
    std::string title;
    std::string message;
    std::vector<std::string> buttons;
    std::optional<TextField> textField;
    std::optional<PopUp> popUp;
};

struct DialogAnswer {
    int button = -1;      // index into the request's buttons; -1 when dismissed otherwise
    std::string text;     // the text field's contents
    int selectedItem = 0; // the pop-up's selection
};

// The dialogs of the controller's command flows.
namespace Dialogs {
DialogRequest savePreset();
DialogRequest deletePreset(std::vector<std::string> names);
DialogRequest runTask();
DialogRequest whatAreYouRunning();
DialogRequest useTimedSession();
DialogRequest connectAgent(std::string_view displayName);
DialogRequest checkClaudeCode();
DialogRequest checkOpenCode();
DialogRequest watchAgentWork();
DialogRequest trustCodex();
DialogRequest connectCodingAgent();
} // namespace Dialogs

} // namespace vesperon
