#include "gui/Appearance.hpp"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QPainter>
#include <QSvgRenderer>

// Outside any namespace: registers the symbols compiled into this library, once.
static void registerSymbols() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(vesperon);
        return true;
    }();
    (void)registered;
}

namespace vesperon::gui {
namespace dark {
QColor windowBackground() {
    return QColor(50, 50, 50);
}
QColor label() {
    return QColor(255, 255, 255, 217); // white at 85 %
}
QColor secondaryLabel() {
    return QColor(255, 255, 255, 140); // white at 55 %
}
QColor separator() {
    return QColor(255, 255, 255, 26); // white at 10 %
}
QColor mint() {
    return QColor(99, 230, 226);
}
QColor red() {
    return QColor(255, 69, 58);
}
} // namespace dark

QString css(const QColor& colour) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue())
        .arg(colour.alpha());
}

QColor colourOf(ColourRole role) {
    switch (role) {
    case ColourRole::Mint:
        return dark::mint();
    case ColourRole::Secondary:
        return dark::secondaryLabel();
    case ColourRole::Default:
        break;
    }
    return dark::label();
}

Appearance Appearance::desktop() {
    registerSymbols();
    Appearance appearance;
    appearance.fontFamily = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    appearance.pixelRatio = qApp != nullptr ? qApp->devicePixelRatio() : 1.0;
    return appearance;
}

Appearance Appearance::images() {
    registerSymbols();
    Appearance appearance;
    appearance.fontFamily = QStringLiteral("Inter");
    appearance.pixelRatio = 2.0;
    return appearance;
}

QFont Appearance::font(qreal points, QFont::Weight weight) const {
    QFont font(fontFamily);
    font.setPixelSize(qRound(points));
    font.setWeight(weight);
    return font;
}

QPixmap Appearance::symbol(const QString& file, QSizeF points, std::optional<QColor> tint) const {
    const QString path = symbolFolder + QLatin1Char('/') + file;
    if (!QFile::exists(path)) {
        return {};
    }
    QSvgRenderer renderer(path);
    if (!renderer.isValid()) {
        return {};
    }
    QPixmap pixmap((points * pixelRatio).toSize());
    pixmap.setDevicePixelRatio(pixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), points));
    if (tint) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRectF(QPointF(0, 0), points), *tint);
    }
    return pixmap;
}

QRect fromBottomLeft(int x, int y, int width, int height, int viewHeight) {
    return QRect(x, viewHeight - y - height, width, height);
}

} // namespace vesperon::gui
