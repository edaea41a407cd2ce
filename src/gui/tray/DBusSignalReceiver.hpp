#pragma once

#include <QDBusMessage>
#include <QObject>
#include <functional>

namespace vesperon::gui {

// The receiving end for D-Bus signals whose arguments matter: QDBusConnection::connect
// delivers each matching signal to `receive` as the whole message.
class DBusSignalReceiver final : public QObject {
    Q_OBJECT

  public:
    explicit DBusSignalReceiver(std::function<void(const QDBusMessage&)> received)
        : received_(std::move(received)) {}

  public slots:
    void receive(const QDBusMessage& message) { received_(message); }

  private:
    std::function<void(const QDBusMessage&)> received_;
};

} // namespace vesperon::gui
