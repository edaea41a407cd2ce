#pragma once

#include <string>
#include <string_view>

#include "app/Alerts.hpp"
#include "common/Error.hpp"

namespace vesperon {

class SessionPanel;

// What the command flows (presets, agent watching) may ask of the session
// controller, which owns them and every session field.
class SessionControl {
  public:
    virtual ~SessionControl() = default;

    // A session is running, or a start, stop or restore is in flight: every operation
    // that would begin something does nothing then.
    [[nodiscard]] virtual bool busy() const = 0;
    // The panel's selected duration, or the stored last duration without a panel.
    [[nodiscard]] virtual int selectedDuration() const = 0;
    // The panel, once launched.
    [[nodiscard]] virtual SessionPanel* panel() = 0;
    virtual void refreshPanel() = 0;
    virtual void alert(AlertKind kind, std::string_view text) = 0;
    // Shows a preference that could not be stored; a success shows nothing.
    virtual void preferenceWritten(const Result<void>& written) = 0;

    virtual void start(int seconds) = 0;
    virtual void runTask() = 0;
    // Starts a session that arms agent tracking for `provider` once it is verified; a
    // refused start leaves no pending watch.
    virtual void startWatchingAgents(const std::string& provider) = 0;
};

} // namespace vesperon
