#include "gui/tray/TrayIconImage.hpp"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QTransform>

namespace vesperon::gui {
namespace {

constexpr qreal iconPoints = 22;
// The digits stand at least this share of the image's height.
constexpr qreal digitsShare = 0.62;
// Side by side, the time may be narrowed to this share of its width; narrower would
// blur the digits, so a longer time puts its unit under the digits instead.
constexpr qreal narrowestLine = 0.85;

QImage baseImage(const Appearance& appearance, int pixels, const QColor& tint) {
    Appearance sharp = appearance;
    sharp.pixelRatio = pixels / iconPoints;
    for (const char* file : {"MenuBarIcon.svg", "moon.svg"}) {
        const QPixmap image =
            sharp.symbol(QString::fromLatin1(file), QSizeF(iconPoints, iconPoints), tint);
        if (!image.isNull()) {
            QImage plain = image.toImage().convertToFormat(QImage::Format_ARGB32);
            plain.setDevicePixelRatio(1.0);
            return plain;
        }
    }
    return {};
}

// The outline of `text` with its ink's top-left corner at the origin.
QPainterPath inked(const QString& text, const QFont& font) {
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF ink = path.boundingRect();
    return path.translated(-ink.topLeft());
}

QPainterPath scaled(const QPainterPath& path, qreal sx, qreal sy) {
    return QTransform::fromScale(sx, sy).map(path);
}

// The digits large and bold, the unit letter smaller: on one line when that fits the
// square without squeezing the digits much, else the unit under the digits.
QPainterPath shortFormPath(const Appearance& appearance, qreal side, const QString& shortForm) {
    qsizetype split = shortForm.size();
    while (split > 0 && !shortForm[split - 1].isDigit()) {
        --split;
    }
    const QString digits = shortForm.left(split);
    const QString unit = shortForm.mid(split);
    const qreal digitsHeight = side * digitsShare;
    QPainterPath number = inked(digits, appearance.font(100, QFont::Bold));
    number = scaled(number, digitsHeight / number.boundingRect().height(),
                    digitsHeight / number.boundingRect().height());
    // The unit's letters at a little over half the digits' size.
    const QFont unitFont = appearance.font(100, QFont::Bold);
    const qreal unitScale = digitsHeight * 0.55 / QFontMetricsF(unitFont).capHeight();
    const QPainterPath letters = scaled(inked(unit, unitFont), unitScale, unitScale);

    const qreal gap = side * 0.04;
    const QRectF n = number.boundingRect();
    const QRectF u = letters.boundingRect();
    const qreal lineWidth = n.width() + gap + u.width();
    QPainterPath result;
    if (lineWidth * narrowestLine <= side) {
        const qreal squeeze = std::min(1.0, side / lineWidth);
        result.addPath(number);
        result.addPath(letters.translated(n.width() + gap, n.height() - u.height()));
        result = scaled(result, squeeze, 1.0);
        const QRectF all = result.boundingRect();
        return result.translated((side - all.width()) / 2, (side - all.height()) / 2);
    }
    const qreal squeeze = std::min(1.0, side / n.width());
    result.addPath(scaled(number, squeeze, 1.0).translated((side - n.width() * squeeze) / 2, 0));
    result.addPath(letters.translated(side - u.width(), side - u.height()));
    return result;
}

} // namespace

QImage statusImage(const Appearance& appearance, int pixels, const QString& shortForm,
                   const QColor& tint) {
    if (shortForm.isEmpty()) {
        QImage image = baseImage(appearance, pixels, tint);
        if (!image.isNull()) {
            return image;
        }
    }
    QImage image(pixels, pixels, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    if (shortForm.isEmpty()) {
        return image;
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = shortFormPath(appearance, pixels, shortForm);
    // A thin contrasting edge, so the time reads on any tray colour.
    const QColor edge = tint.lightness() > 128 ? QColor(0, 0, 0, 160) : QColor(255, 255, 255, 170);
    painter.setPen(
        QPen(edge, std::max(1.0, pixels / 22.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(path);
    painter.fillPath(path, tint);
    return image;
}

QString leadingUnit(const std::string& title) {
    const QString trimmed = QString::fromStdString(title).trimmed();
    return trimmed.section(QLatin1Char(' '), 0, 0);
}

QColor trayTint() {
    return QApplication::palette().color(QPalette::WindowText);
}

QIcon trayIconImage(const Appearance& appearance, const QString& shortForm) {
    QIcon icon;
    const QColor tint = trayTint();
    for (const int pixels : statusImageSizes) {
        icon.addPixmap(QPixmap::fromImage(statusImage(appearance, pixels, shortForm, tint)));
    }
    // A template image: a Mac's menu bar tints it for light and dark bars by its alpha
    // alone; elsewhere the flag changes nothing and the tint above stands.
    icon.setIsMask(true);
    return icon;
}

QString trayToolTip(const QString& remaining) {
    return remaining.isEmpty() ? QStringLiteral("Vesperon")
                               : QStringLiteral("Vesperon — %1 left").arg(remaining);
}

} // namespace vesperon::gui
