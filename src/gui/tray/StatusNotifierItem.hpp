#pragma once

#include <QDBusVirtualObject>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QString>
#include <functional>

namespace vesperon::gui {

// The status item published on the session bus as a StatusNotifierItem
// (org.kde.StatusNotifierItem at /StatusNotifierItem, under the well-known name
// org.kde.StatusNotifierItem-PID-1), for the desktop's tray host to show: the image in
// several sizes, a tool tip and the label beside the image (the Ayatana extension's
// XAyatanaLabel, which AppIndicator hosts show next to the icon). The item has no menu:
// any click on it asks for the panel at the point the host names.
class StatusNotifierItem final : public QDBusVirtualObject {
  public:
    using Click = std::function<void(QPoint where)>;
    explicit StatusNotifierItem(Click clicked);
    ~StatusNotifierItem() override;
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    // Claims the item's name and object on the session bus; false when there is no bus
    // or the name is taken.
    bool publish();
    // Asks the running StatusNotifierWatcher to show the item (again after the watcher
    // restarted).
    void registerWithWatcher();

    void setImages(const QList<QImage>& images);
    void setToolTip(const QString& text);
    void setLabel(const QString& label);

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

  private:
    void saveIconFile();
    void emitSignal(const QString& name, const QVariantList& arguments = {});

    Click clicked_;
    QString serviceName_;
    bool published_ = false;
    QList<QImage> images_;
    QString iconName_;
    QString iconFolder_;
    QString toolTip_;
    QString label_;
};

} // namespace vesperon::gui
