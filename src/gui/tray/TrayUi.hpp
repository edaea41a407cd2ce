#pragma once

#include <QRect>
#include <memory>
#include <string>

#include "app/Ui.hpp"
#include "gui/Appearance.hpp"

namespace vesperon {
class AppDelegate;
}

namespace vesperon::gui {

class PanelPopup;
class StatusItem;
class SessionPanelView;

// The controller's user interface in the tray: the status item (with the remaining
// time beside its image, or in it where the tray shows no text), the panel popup, the
// About window, and the modal alerts and dialogs.
class TrayUi final : public Ui {
  public:
    explicit TrayUi(Appearance appearance);
    ~TrayUi() override;
    TrayUi(const TrayUi&) = delete;
    TrayUi& operator=(const TrayUi&) = delete;

    // After the controller has launched: the tray icon. The panel's widgets are made
    // when it first opens.
    void attach(AppDelegate& app);
    // Opens the panel when it is closed, closes it when it is open.
    void togglePanel();

    void alert(const std::string& title, const std::string& message) override;
    DialogAnswer runDialog(const DialogRequest& request) override;
    void setStatusItemTitle(const std::string& title) override;
    void refreshPanel() override;
    void focusCustomHours() override;
    void showAbout() override;
    void terminate() override;

  private:
    // Toggles the panel for a click on the status item at `anchor` (the icon's
    // rectangle on the screen; empty when only the pointer tells).
    void toggleAt(const QRect& anchor);
    void closePanel();

    Appearance appearance_;
    AppDelegate* app_ = nullptr;
    std::string title_;
    std::unique_ptr<StatusItem> item_;
    SessionPanelView* view_ = nullptr; // owned by the popup
    std::unique_ptr<PanelPopup> popup_;
    std::unique_ptr<QWidget> about_;
};

} // namespace vesperon::gui
