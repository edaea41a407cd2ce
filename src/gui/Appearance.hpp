#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QPixmap>
#include <QRect>
#include <QSizeF>
#include <QString>
#include <optional>

#include "app/PanelModel.hpp"

namespace vesperon::gui {

// The dark appearance's named colours, matched to the macOS dark appearance: the one
// place that says what each named colour looks like.
namespace dark {
QColor windowBackground();
QColor label();
QColor secondaryLabel();
QColor separator();
QColor mint();
QColor red();
// The whole palette of the dark appearance, for every window of the application: the
// panel, its menus, dialogs and alerts look alike.
QPalette palette();
} // namespace dark

// A colour as a style-sheet value: "rgba(r, g, b, a)".
QString css(const QColor& colour);
// The named colour of a model's colour role (Default is the label colour).
QColor colourOf(ColourRole role);

// How the views are drawn: the font family (Inter, the same in the live views and the
// images, so the frames that fit in one fit in the other), where the symbol files are,
// and the pixel density that symbols are rasterised for. Sizes are in points (one
// point is one device-independent pixel).
struct Appearance {
    QString fontFamily;
    QString symbolFolder = QStringLiteral(":/vesperon");
    qreal pixelRatio = 1.0;

    // The views' font at the screen's pixel density.
    static Appearance desktop();
    // The views' font at a pixel density of 2: what the image renderers draw with.
    static Appearance images();

    // One look for every window of the application: Fusion with the dark palette,
    // no icons on dialog buttons, and the views' font. Needs the QApplication.
    void applyApplicationWide() const;

    QFont font(qreal points, QFont::Weight weight = QFont::Normal) const;
    // The symbol file (e.g. "gear.svg") drawn into `points`, optionally in one colour
    // (a template image); a null pixmap when the file is missing or unreadable.
    QPixmap symbol(const QString& file, QSizeF points,
                   std::optional<QColor> tint = std::nullopt) const;
};

// The views' font family: Inter (the package depends on fonts-inter), registered from
// its files when the font configuration does not know it. Needs the QGuiApplication.
QString viewFontFamily();

// A frame given with a bottom-left origin in a view `viewHeight` points tall, in Qt's
// top-left coordinates.
QRect fromBottomLeft(int x, int y, int width, int height, int viewHeight);

} // namespace vesperon::gui
