#pragma once

#include <QDBusServiceWatcher>
#include <QObject>
#include <QRect>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>

#include "gui/Appearance.hpp"
#include "gui/tray/StatusNotifierItem.hpp"

namespace vesperon::gui {

// The status item in whatever tray the desktop offers. Where a StatusNotifierWatcher
// runs with a host, it is a StatusNotifierItem whose label beside the image is the
// title; elsewhere it is Qt's XEmbed tray icon, which shows no text, so the title's
// leading unit is drawn in place of the moon. It moves between the two when the
// watcher appears or goes.
class StatusItem final {
  public:
    // `clicked` gets where the panel belongs: the icon's rectangle on the screen, or
    // an empty one when only the pointer tells.
    using Click = std::function<void(QRect anchor)>;
    StatusItem(Appearance appearance, Click clicked);
    ~StatusItem();
    StatusItem(const StatusItem&) = delete;
    StatusItem& operator=(const StatusItem&) = delete;

    // The controller's title (" 45m", empty when no session is shown).
    void setTitle(const std::string& title);
    // The icon's rectangle on the screen, when the tray tells it.
    QRect geometry() const;

  private:
    void findHost();
    void useHost(bool host);
    void showImages();

    Appearance appearance_;
    Click clicked_;
    std::string title_;
    QObject context_;
    QDBusServiceWatcher watcher_;
    QTimer hostCheck_;
    std::unique_ptr<StatusNotifierItem> item_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    bool hosted_ = false;
    bool imagesSent_ = false;
};

} // namespace vesperon::gui
