#pragma once

#include <string>

#include "app/Alerts.hpp"

namespace vesperon {

// What the session controller needs of the user interface. Alerts and dialogs are
// modal and answer synchronously; the main loop keeps running the timer underneath.
class Ui {
  public:
    virtual ~Ui() = default;

    // A plain alert with one default button; returns when the user dismisses it.
    virtual void alert(const std::string& title, const std::string& message) = 0;
    // A modal dialog with buttons and an optional accessory control.
    virtual DialogAnswer runDialog(const DialogRequest& request) = 0;
    // The text beside the status item's icon (empty while no session is shown).
    virtual void setStatusItemTitle(const std::string& title) = 0;
    // The panel reads everything from its model again.
    virtual void refreshPanel() = 0;
    // Keyboard focus to the panel's custom hours field.
    virtual void focusCustomHours() = 0;
    // Shows the About window (made once), closing the panel first.
    virtual void showAbout() = 0;
    // Ends the application's main loop.
    virtual void terminate() = 0;
};

} // namespace vesperon
