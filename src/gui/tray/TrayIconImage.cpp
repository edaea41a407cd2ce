#include "gui/tray/TrayIconImage.hpp"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

namespace vesperon::gui {
namespace {

constexpr int iconPoints = 22;
constexpr qreal density = 2.0;

// Template images are drawn in the colour of the tray's text.
QColor templateColour() {
    return QApplication::palette().color(QPalette::WindowText);
}

QPixmap baseImage(const Appearance& appearance, const QColor& tint) {
    for (const char* file : {"MenuBarIcon.svg", "moon.svg"}) {
        QPixmap image =
            appearance.symbol(QString::fromLatin1(file), QSizeF(iconPoints, iconPoints), tint);
        if (!image.isNull()) {
            return image;
        }
    }
    return {};
}

} // namespace

QIcon trayIconImage(const Appearance& appearance, const QString& remaining) {
    Appearance sharp = appearance;
    sharp.pixelRatio = density;
    const QColor tint = templateColour();
    QPixmap image = baseImage(sharp, tint);
    if (image.isNull()) {
        image =
            QPixmap(static_cast<int>(iconPoints * density), static_cast<int>(iconPoints * density));
        image.setDevicePixelRatio(density);
        image.fill(Qt::transparent);
    }
    if (!remaining.isEmpty()) {
        // The time across the lower half, outlined so it reads on any tray colour.
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QFont font = appearance.font(remaining.size() > 3 ? 6.5 : 8.5, QFont::Bold);
        QPainterPath path;
        const QRectF box(0, iconPoints / 2.0, iconPoints, iconPoints / 2.0);
        const QFontMetricsF metrics(font);
        const qreal width = metrics.horizontalAdvance(remaining);
        path.addText(box.center().x() - width / 2, box.bottom() - metrics.descent(), font,
                     remaining);
        const QColor outline =
            tint.lightness() > 128 ? QColor(0, 0, 0, 200) : QColor(255, 255, 255, 220);
        painter.setPen(QPen(outline, 2.0));
        painter.drawPath(path);
        painter.fillPath(path, tint);
    }
    // A template image: a Mac's menu bar tints it for light and dark bars by its alpha
    // alone; elsewhere the flag changes nothing and the tint above stands.
    QIcon icon(image);
    icon.setIsMask(true);
    return icon;
}

QString trayToolTip(const QString& remaining) {
    return remaining.isEmpty() ? QStringLiteral("Vesperon")
                               : QStringLiteral("Vesperon — %1 left").arg(remaining);
}

} // namespace vesperon::gui
