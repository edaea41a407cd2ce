#include "gui/Appearance.hpp"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
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
    return {50, 50, 50};
}
QColor label() {
    return {255, 255, 255, 217}; // white at 85 %
}
QColor secondaryLabel() {
    return {255, 255, 255, 140}; // white at 55 %
}
QColor separator() {
    return {255, 255, 255, 26}; // white at 10 %
}
QColor mint() {
    return {99, 230, 226};
}
QColor red() {
    return {255, 69, 58};
}
QPalette palette() {
    QPalette colours;
    const QColor window = windowBackground();
    const QColor text(255, 255, 255, 230);
    const QColor dimmed(255, 255, 255, 100);
    colours.setColor(QPalette::Window, window);
    colours.setColor(QPalette::WindowText, text);
    colours.setColor(QPalette::Base, QColor(36, 36, 36));
    colours.setColor(QPalette::AlternateBase, QColor(58, 58, 58));
    colours.setColor(QPalette::ToolTipBase, QColor(40, 40, 40));
    colours.setColor(QPalette::ToolTipText, text);
    colours.setColor(QPalette::PlaceholderText, dimmed);
    colours.setColor(QPalette::Text, text);
    colours.setColor(QPalette::Button, QColor(70, 70, 70));
    colours.setColor(QPalette::ButtonText, text);
    colours.setColor(QPalette::BrightText, red());
    colours.setColor(QPalette::Light, QColor(90, 90, 90));
    colours.setColor(QPalette::Midlight, QColor(75, 75, 75));
    colours.setColor(QPalette::Mid, QColor(45, 45, 45));
    colours.setColor(QPalette::Dark, QColor(30, 30, 30));
    colours.setColor(QPalette::Shadow, QColor(0, 0, 0));
    colours.setColor(QPalette::Highlight, QColor(10, 132, 255));
    colours.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    colours.setColor(QPalette::Link, mint());
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        colours.setColor(QPalette::Disabled, role, dimmed);
    }
    return colours;
}
} // namespace dark

namespace {

// Fusion, without the decorative icons that some desktops' themes put on dialog
// buttons (a check mark on OK).
class ViewStyle final : public QProxyStyle {
  public:
    ViewStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        if (hint == SH_DialogButtonBox_ButtonsHaveIcons) {
            return 0;
        }
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

constexpr const char* interFolders[] = {"/usr/share/fonts/opentype/inter",
                                        "/usr/share/fonts/truetype/inter"};

} // namespace

QString viewFontFamily() {
    static const QString family = [] {
        // Matching the one family is quick; listing every family would load the whole
        // font database at start-up.
        QString inter = QStringLiteral("Inter");
        if (QFontInfo(QFont(inter)).family() == inter) {
            return inter;
        }
        for (const char* folder : interFolders) {
            const QDir fonts(QString::fromLatin1(folder));
            for (const QString& file : fonts.entryList({QStringLiteral("Inter-*")}, QDir::Files)) {
                (void)QFontDatabase::addApplicationFont(fonts.filePath(file));
            }
        }
        return QFontDatabase::hasFamily(inter)
                   ? inter
                   : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    return family;
}

void Appearance::applyApplicationWide() const {
    QApplication::setStyle(new ViewStyle);
    QApplication::setPalette(dark::palette());
    QApplication::setFont(font(13));
}

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
    appearance.fontFamily = viewFontFamily();
    appearance.pixelRatio = qApp != nullptr ? qApp->devicePixelRatio() : 1.0;
    return appearance;
}

Appearance Appearance::images() {
    registerSymbols();
    Appearance appearance;
    appearance.fontFamily = viewFontFamily();
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
    return {x, viewHeight - y - height, width, height};
}

} // namespace vesperon::gui
