#include "gui/tray/DesktopNotifier.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace vesperon::gui {
namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(service, path, interface, method);
}

} // namespace

void DesktopNotifier::requestAuthorization(std::function<void(bool granted)> answer) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        answer(false);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call("GetCapabilities")));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [answer = std::move(answer)](QDBusPendingCallWatcher* finished) {
                         answer(!finished->isError());
                         finished->deleteLater();
                     });
}

void DesktopNotifier::post(const std::string& identifier, const std::string& title,
                           const std::string& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    (void)identifier; // the service numbers its notifications itself
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("vesperon"));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));
    QDBusMessage message = call(QStringLiteral("Notify"));
    message << QStringLiteral("Vesperon") << 0u << QString() << QString::fromStdString(title)
            << QString::fromStdString(body) << QStringList() << hints << -1;
    // Delivered at once; the answer (the service's id) is not needed.
    bus.asyncCall(message);
}

} // namespace vesperon::gui
