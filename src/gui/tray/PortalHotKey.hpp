#pragma once

#include <QString>
#include <QVariantMap>
#include <functional>
#include <map>

#include "app/HotKey.hpp"
#include "gui/tray/DBusSignalReceiver.hpp"

namespace vesperon::gui {

// The global shortcut Control+Alt+Super+Space on a Wayland session, where only the
// desktop's GlobalShortcuts portal (org.freedesktop.portal.Desktop) offers one: a
// portal session is created, the shortcut is bound in it with that preferred trigger,
// and the portal's Activated signal for it counts as a press. Registering fails at
// once without a portal on the session bus; the portal answers the rest later (it may
// ask the user first), and a refusal then is reported through `whenRefused`.
class PortalHotKey final : public HotKey {
  public:
    PortalHotKey();
    ~PortalHotKey() override;
    PortalHotKey(const PortalHotKey&) = delete;
    PortalHotKey& operator=(const PortalHotKey&) = delete;

    bool registerShortcut(std::function<void()> pressed) override;
    void whenRefused(std::function<void()> refused) override;

  private:
    using Answer = std::function<void(const QVariantMap& results)>;
    // Calls a portal method that answers through a Request object: `answered` gets the
    // results of a successful Response; any failure refuses the shortcut.
    void request(const QString& method, QVariantList arguments, QVariantMap options,
                 Answer answered);
    void responded(const QDBusMessage& response);
    void bindShortcut();
    void activated(const QDBusMessage& signal);
    void refuse();

    std::function<void()> pressed_;
    std::function<void()> refused_;
    bool refusedOnce_ = false;
    int tokens_ = 0;
    QString session_;
    std::map<QString, Answer> waiting_; // by the Request object's path
    DBusSignalReceiver responses_;
    DBusSignalReceiver activations_;
};

} // namespace vesperon::gui
