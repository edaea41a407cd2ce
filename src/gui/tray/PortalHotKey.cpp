#include "gui/tray/PortalHotKey.hpp"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QList>

namespace vesperon::gui {
namespace {

// One shortcut as BindShortcuts takes it: an identifier and its properties.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

} // namespace
} // namespace vesperon::gui

Q_DECLARE_METATYPE(vesperon::gui::PortalShortcut)

namespace vesperon::gui {
namespace {

QDBusArgument& operator<<(QDBusArgument& out, const PortalShortcut& shortcut) {
    out.beginStructure();
    out << shortcut.id << shortcut.properties;
    out.endStructure();
    return out;
}

// Qt's streaming signature: the argument read from is handed back.
const QDBusArgument& operator>>(const QDBusArgument& in, PortalShortcut& shortcut) {
    in.beginStructure();
    in >> shortcut.id >> shortcut.properties;
    in.endStructure();
    return in; // NOLINT(bugprone-return-const-ref-from-parameter)
}

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString shortcutId = QStringLiteral("toggle-session");

// A path or a string, as portals differ in which they send for a handle.
QString handleText(const QVariant& value) {
    return value.metaType() == QMetaType::fromType<QDBusObjectPath>()
               ? value.value<QDBusObjectPath>().path()
               : value.toString();
}

} // namespace

PortalHotKey::PortalHotKey()
    : responses_([this](const QDBusMessage& message) { responded(message); }),
      activations_([this](const QDBusMessage& message) { activated(message); }) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
}

PortalHotKey::~PortalHotKey() {
    if (session_.isEmpty()) {
        return;
    }
    // Closing the session releases the shortcut at once, before the connection goes.
    QDBusConnection::sessionBus().send(QDBusMessage::createMethodCall(
        portalService, session_, QStringLiteral("org.freedesktop.portal.Session"),
        QStringLiteral("Close")));
}

bool PortalHotKey::registerShortcut(std::function<void()> pressed) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr;
    if (names == nullptr || (!names->isServiceRegistered(portalService).value() &&
                             !names->activatableServiceNames().value().contains(portalService))) {
        return false; // no desktop portal on this session
    }
    pressed_ = std::move(pressed);
    const QString sessionToken = QStringLiteral("vesperon_%1").arg(++tokens_);
    request(QStringLiteral("CreateSession"), {},
            {{QStringLiteral("session_handle_token"), sessionToken}},
            [this](const QVariantMap& results) {
                session_ = handleText(results.value(QStringLiteral("session_handle")));
                if (session_.isEmpty()) {
                    refuse();
                    return;
                }
                bindShortcut();
            });
    return true;
}

void PortalHotKey::whenRefused(std::function<void()> refused) {
    refused_ = std::move(refused);
}

void PortalHotKey::bindShortcut() {
    QDBusConnection::sessionBus().connect(portalService, portalPath, shortcutsInterface,
                                          QStringLiteral("Activated"), &activations_,
                                          SLOT(receive(QDBusMessage)));
    const QList<PortalShortcut> shortcuts{
        {shortcutId,
         {{QStringLiteral("description"), QStringLiteral("Start or end a session")},
          {QStringLiteral("preferred_trigger"), QStringLiteral("CTRL+ALT+LOGO+space")}}}};
    request(
        QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(shortcuts), QString()},
        {}, [](const QVariantMap&) {});
}

void PortalHotKey::request(const QString& method, QVariantList arguments, QVariantMap options,
                           Answer answered) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = QStringLiteral("vesperon_%1").arg(++tokens_);
    options.insert(QStringLiteral("handle_token"), token);
    // The Request object's path follows from the token and this connection's name, so
    // its Response is subscribed to before the call: a quick answer is never missed.
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString expected =
        portalPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    const auto subscribe = [this, answered = std::move(answered)](const QString& path) {
        waiting_[path] = answered;
        QDBusConnection::sessionBus().connect(portalService, path, requestInterface,
                                              QStringLiteral("Response"), &responses_,
                                              SLOT(receive(QDBusMessage)));
    };
    subscribe(expected);

    QDBusMessage call =
        QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, method);
    arguments.append(options);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &responses_,
                     [this, expected, subscribe](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                         if (reply.isError()) {
                             waiting_.erase(expected);
                             refuse();
                             return;
                         }
                         // An older portal names another path for the Request object.
                         const QString path = reply.value().path();
                         if (path != expected && waiting_.contains(expected)) {
                             subscribe(path);
                             waiting_.erase(expected);
                         }
                     });
}

void PortalHotKey::responded(const QDBusMessage& response) {
    const auto found = waiting_.find(response.path());
    const QVariantList args = response.arguments();
    if (found == waiting_.end() || args.size() < 2) {
        return;
    }
    const Answer answered = std::move(found->second);
    waiting_.erase(found);
    QDBusConnection::sessionBus().disconnect(portalService, response.path(), requestInterface,
                                             QStringLiteral("Response"), &responses_,
                                             SLOT(receive(QDBusMessage)));
    if (args[0].toUInt() != 0) {
        refuse(); // cancelled by the user, or refused by the desktop
        return;
    }
    answered(qdbus_cast<QVariantMap>(args[1]));
}

void PortalHotKey::activated(const QDBusMessage& signal) {
    const QVariantList args = signal.arguments();
    if (args.size() >= 2 && handleText(args[0]) == session_ && args[1].toString() == shortcutId &&
        pressed_) {
        pressed_();
    }
}

void PortalHotKey::refuse() {
    if (!refusedOnce_ && refused_) {
        refusedOnce_ = true;
        refused_();
    }
}

} // namespace vesperon::gui
