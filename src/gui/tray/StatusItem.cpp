#include "gui/tray/StatusItem.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include "gui/tray/TrayIconImage.hpp"

namespace vesperon::gui {
namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

// Hosts name the point of the click; some name none (0, 0), and then the pointer tells.
QRect anchorAt(QPoint where) {
    return where.isNull() ? QRect() : QRect(where, QSize(1, 1));
}

} // namespace

StatusItem::StatusItem(Appearance appearance, Click clicked)
    : appearance_(std::move(appearance)), clicked_(std::move(clicked)) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        useHost(false);
        return;
    }
    watcher_.setConnection(bus);
    watcher_.setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
    watcher_.addWatchedService(watcherService);
    QObject::connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, &context_,
                     [this] { findHost(); });
    // A watcher that had no host yet says when one comes.
    hostCheck_.setSingleShot(true);
    hostCheck_.setInterval(0);
    QObject::connect(&hostCheck_, &QTimer::timeout, &context_, [this] { findHost(); });
    bus.connect(watcherService, watcherPath, watcherService,
                QStringLiteral("StatusNotifierHostRegistered"), &hostCheck_, SLOT(start()));
    findHost();
}

StatusItem::~StatusItem() = default;

void StatusItem::findHost() {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    ask << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* pending =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(ask, 5000), &context_);
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, &context_,
                     [this](QDBusPendingCallWatcher* answer) {
                         const QDBusPendingReply<QDBusVariant> reply = *answer;
                         useHost(!reply.isError() && reply.value().variant().toBool());
                         answer->deleteLater();
                     });
}

void StatusItem::useHost(bool host) {
    if (host) {
        if (!item_) {
            item_ = std::make_unique<StatusNotifierItem>(
                [this](QPoint where) { clicked_(anchorAt(where)); });
        }
        host = item_->publish();
    }
    hosted_ = host;
    if (hosted_) {
        icon_.reset();
        showImages();
        item_->registerWithWatcher();
        return;
    }
    if (!icon_) {
        icon_ = std::make_unique<QSystemTrayIcon>();
        // A double click arrives as a click and then a double click; the click has
        // already toggled the panel.
        QObject::connect(icon_.get(), &QSystemTrayIcon::activated, &context_,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::Trigger) {
                                 clicked_(icon_->geometry());
                             }
                         });
        showImages();
        icon_->show();
    }
}

void StatusItem::setTitle(const std::string& title) {
    if (title != title_) {
        title_ = title;
        showImages();
    }
}

QRect StatusItem::geometry() const {
    return icon_ ? icon_->geometry() : QRect();
}

void StatusItem::showImages() {
    const QString remaining = QString::fromStdString(title_).trimmed();
    if (hosted_ && item_) {
        // The host shows the title beside the image; the image stays the moon.
        if (!imagesSent_) {
            QList<QImage> images;
            const QColor tint = trayTint();
            for (const int pixels : statusImageSizes) {
                images.append(statusImage(appearance_, pixels, QString(), tint));
            }
            item_->setImages(images);
            imagesSent_ = true;
        }
        item_->setToolTip(remaining.isEmpty() ? QString()
                                              : QStringLiteral("%1 left").arg(remaining));
        item_->setLabel(QString::fromStdString(title_));
    }
    if (icon_) {
        icon_->setIcon(trayIconImage(appearance_, leadingUnit(title_)));
        icon_->setToolTip(trayToolTip(remaining));
    }
}

} // namespace vesperon::gui
