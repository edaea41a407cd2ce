#include "gui/tray/StatusNotifierItem.hpp"

#include <QBuffer>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <QVariantMap>
#include <QtEndian>

#include "common/AtomicFile.hpp"
#include "platform/UserHome.hpp"

namespace vesperon::gui {
namespace {

// One image as the protocol carries it: width, height and ARGB32 pixels in network
// byte order.
struct ItemPixmap {
    int width = 0;
    int height = 0;
    QByteArray pixels;
};
using ItemPixmaps = QList<ItemPixmap>;

// The tool tip: an icon name, images, a title and a text.
struct ItemToolTip {
    QString iconName;
    ItemPixmaps images;
    QString title;
    QString text;
};

} // namespace
} // namespace vesperon::gui

Q_DECLARE_METATYPE(vesperon::gui::ItemPixmap)
Q_DECLARE_METATYPE(vesperon::gui::ItemToolTip)

namespace vesperon::gui {
namespace {

QDBusArgument& operator<<(QDBusArgument& out, const ItemPixmap& pixmap) {
    out.beginStructure();
    out << pixmap.width << pixmap.height << pixmap.pixels;
    out.endStructure();
    return out;
}

// Qt's streaming signature: the argument read from is handed back.
const QDBusArgument& operator>>(const QDBusArgument& in, ItemPixmap& pixmap) {
    in.beginStructure();
    in >> pixmap.width >> pixmap.height >> pixmap.pixels;
    in.endStructure();
    return in; // NOLINT(bugprone-return-const-ref-from-parameter)
}

QDBusArgument& operator<<(QDBusArgument& out, const ItemToolTip& tip) {
    out.beginStructure();
    out << tip.iconName << tip.images << tip.title << tip.text;
    out.endStructure();
    return out;
}

// Qt's streaming signature: the argument read from is handed back.
const QDBusArgument& operator>>(const QDBusArgument& in, ItemToolTip& tip) {
    in.beginStructure();
    in >> tip.iconName >> tip.images >> tip.title >> tip.text;
    in.endStructure();
    return in; // NOLINT(bugprone-return-const-ref-from-parameter)
}

const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

ItemPixmap fromImage(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    ItemPixmap pixmap{argb.width(), argb.height(), {}};
    pixmap.pixels.resize(qsizetype(argb.width()) * argb.height() * 4);
    auto* out = reinterpret_cast<uchar*>(pixmap.pixels.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x, out += 4) {
            qToBigEndian(row[x], out);
        }
    }
    return pixmap;
}

const char* const introspection = R"xml(  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <property name="XAyatanaLabel" type="s" access="read"/>
    <property name="XAyatanaLabelGuide" type="s" access="read"/>
    <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg name="status" type="s"/></signal>
    <signal name="XAyatanaNewLabel"><arg name="label" type="s"/><arg name="guide" type="s"/></signal>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get"><arg name="interface" type="s" direction="in"/><arg name="name" type="s" direction="in"/><arg name="value" type="v" direction="out"/></method>
    <method name="GetAll"><arg name="interface" type="s" direction="in"/><arg name="properties" type="a{sv}" direction="out"/></method>
  </interface>
)xml";

} // namespace

StatusNotifierItem::StatusNotifierItem(Click clicked)
    : clicked_(std::move(clicked)), serviceName_(QStringLiteral("org.kde.StatusNotifierItem-%1-1")
                                                     .arg(QCoreApplication::applicationPid())) {
    qDBusRegisterMetaType<ItemPixmap>();
    qDBusRegisterMetaType<ItemPixmaps>();
    qDBusRegisterMetaType<ItemToolTip>();
}

StatusNotifierItem::~StatusNotifierItem() {
    if (published_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(itemPath);
        bus.unregisterService(serviceName_);
    }
}

bool StatusNotifierItem::publish() {
    if (published_) {
        return true;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() ||
        !bus.registerVirtualObject(itemPath, this, QDBusConnection::SingleNode)) {
        return false;
    }
    if (!bus.registerService(serviceName_)) {
        bus.unregisterObject(itemPath);
        return false;
    }
    published_ = true;
    return true;
}

void StatusNotifierItem::registerWithWatcher() {
    if (!published_) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        watcherService, QStringLiteral("/StatusNotifierWatcher"), watcherService,
        QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    QDBusConnection::sessionBus().asyncCall(call);
}

void StatusNotifierItem::setImages(const QList<QImage>& images) {
    images_ = images;
    saveIconFile();
    emitSignal(QStringLiteral("NewIcon"));
}

// Hosts of the Ayatana family (Xfce's and MATE's indicator plugins) show an icon only
// by name: the largest image is also kept as a file in a private folder that the
// item names as its icon theme path.
void StatusNotifierItem::saveIconFile() {
    iconName_.clear();
    if (images_.isEmpty()) {
        return;
    }
    const std::string runtime = userRuntimeFolder();
    if (runtime.empty()) {
        return;
    }
    const std::string path = runtime + "/vesperon-status-icon";
    if (!preparePrivateFolder(path)) {
        return;
    }
    const QString folder = QFile::decodeName(path.c_str());
    QByteArray png;
    QBuffer buffer(&png);
    if (!images_.last().save(&buffer, "PNG")) {
        return;
    }
    const QString name = QStringLiteral("vesperon-status");
    if (writeFileAtomically(
            QFile::encodeName(folder + QLatin1Char('/') + name + ".png").toStdString(),
            std::string_view(png.constData(), size_t(png.size())))) {
        iconName_ = name;
        iconFolder_ = folder;
    }
}

void StatusNotifierItem::setToolTip(const QString& text) {
    if (text != toolTip_) {
        toolTip_ = text;
        emitSignal(QStringLiteral("NewToolTip"));
    }
}

void StatusNotifierItem::setLabel(const QString& label) {
    if (label != label_) {
        label_ = label;
        // The guide is the label itself: the item is as wide as its text.
        emitSignal(QStringLiteral("XAyatanaNewLabel"), {label_, label_});
    }
}

void StatusNotifierItem::emitSignal(const QString& name, const QVariantList& arguments) {
    if (!published_) {
        return;
    }
    QDBusMessage signal = QDBusMessage::createSignal(itemPath, itemInterface, name);
    signal.setArguments(arguments);
    QDBusConnection::sessionBus().send(signal);
}

QString StatusNotifierItem::introspect(const QString& path) const {
    return path == itemPath ? QString::fromLatin1(introspection) : QString();
}

bool StatusNotifierItem::handleMessage(const QDBusMessage& message,
                                       const QDBusConnection& connection) {
    const QString member = message.member();
    const QVariantList args = message.arguments();
    if (message.interface() == propertiesInterface) {
        ItemPixmaps pixmaps;
        for (const QImage& image : images_) {
            pixmaps.append(fromImage(image));
        }
        const QVariantMap properties{
            {QStringLiteral("Category"), QStringLiteral("ApplicationStatus")},
            {QStringLiteral("Id"), QStringLiteral("vesperon")},
            {QStringLiteral("Title"), QStringLiteral("Vesperon")},
            {QStringLiteral("Status"), QStringLiteral("Active")},
            {QStringLiteral("WindowId"), 0},
            {QStringLiteral("IconName"), iconName_},
            {QStringLiteral("IconThemePath"), iconFolder_},
            {QStringLiteral("IconPixmap"), QVariant::fromValue(pixmaps)},
            {QStringLiteral("OverlayIconName"), QString()},
            {QStringLiteral("OverlayIconPixmap"), QVariant::fromValue(ItemPixmaps{})},
            {QStringLiteral("AttentionIconName"), QString()},
            {QStringLiteral("AttentionIconPixmap"), QVariant::fromValue(ItemPixmaps{})},
            {QStringLiteral("AttentionMovieName"), QString()},
            {QStringLiteral("ToolTip"),
             QVariant::fromValue(ItemToolTip{{}, {}, QStringLiteral("Vesperon"), toolTip_})},
            {QStringLiteral("ItemIsMenu"), false},
            {QStringLiteral("Menu"),
             QVariant::fromValue(QDBusObjectPath(QStringLiteral("/NO_DBUSMENU")))},
            {QStringLiteral("XAyatanaLabel"), label_},
            {QStringLiteral("XAyatanaLabelGuide"), label_},
        };
        if (member == QLatin1String("GetAll")) {
            connection.send(message.createReply(QVariant::fromValue(properties)));
            return true;
        }
        if (member == QLatin1String("Get") && args.size() == 2) {
            const auto found = properties.constFind(args[1].toString());
            connection.send(found == properties.constEnd()
                                ? message.createErrorReply(
                                      QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"),
                                      QStringLiteral("No such property"))
                                : message.createReply(QVariant::fromValue(QDBusVariant(*found))));
            return true;
        }
        return false;
    }
    if (message.interface() != itemInterface && !message.interface().isEmpty()) {
        return false;
    }
    if (member == QLatin1String("Activate") || member == QLatin1String("SecondaryActivate") ||
        member == QLatin1String("ContextMenu")) {
        connection.send(message.createReply());
        const QPoint where = args.size() == 2 ? QPoint(args[0].toInt(), args[1].toInt()) : QPoint();
        // After the reply: the host is not kept waiting while the panel opens.
        QMetaObject::invokeMethod(
            this, [this, where] { clicked_(where); }, Qt::QueuedConnection);
        return true;
    }
    if (member == QLatin1String("Scroll")) {
        connection.send(message.createReply());
        return true;
    }
    return false;
}

} // namespace vesperon::gui
