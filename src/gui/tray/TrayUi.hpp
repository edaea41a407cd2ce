#pragma once

#include <QSystemTrayIcon>
#include <memory>

#include "app/Ui.hpp"
#include "gui/Appearance.hpp"

namespace vesperon {
class AppDelegate;
}

namespace vesperon::gui {

class PanelPopup;
class SessionPanelView;

// The controller's user interface in the tray: the status item (a system-tray icon
// with the remaining time in its image and tool tip), the panel popup, the About
// window, and the modal alerts and dialogs.
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
    void closePanel();

    Appearance appearance_;
    AppDelegate* app_ = nullptr;
    QString remaining_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    SessionPanelView* view_ = nullptr; // owned by the popup
    std::unique_ptr<PanelPopup> popup_;
    std::unique_ptr<QWidget> about_;
};

} // namespace vesperon::gui
