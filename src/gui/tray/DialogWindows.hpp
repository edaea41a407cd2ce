#pragma once

#include <string>

#include "app/Alerts.hpp"

namespace vesperon::gui {

// The window title every alert and dialog carries; tests find them by it.
inline constexpr const char* dialogWindowTitle = "Vesperon";

// The shared alert: the title in bold, the text below it, one default "OK" button, no
// icon. Modal; returns when the user dismisses it.
void showAlert(const std::string& title, const std::string& message);

// A modal dialog: title, informative text, an optional text field or pop-up, and the
// buttons in order (the first is the default and sits at the trailing edge). Escape
// answers like a "Cancel" button when there is one.
[[nodiscard]] DialogAnswer showDialog(const DialogRequest& request);
// The same, the window named `objectName` (tests find alerts and dialogs by it).
[[nodiscard]] DialogAnswer showDialog(const DialogRequest& request, const char* objectName);

} // namespace vesperon::gui
