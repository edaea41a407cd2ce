#include "gui/QtText.hpp"

#include <QFontMetrics>
#include <QLabel>
#include <QLocale>
#include <QTime>

namespace vesperon::gui {

QString qtText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString controlText(std::string_view text) {
    return qtText(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void setFittedText(QLabel& label, const QString& text) {
    const QFontMetrics metrics(label.font());
    const int room = label.contentsRect().width();
    const QString shown = metrics.horizontalAdvance(text) <= room
                              ? text
                              : metrics.elidedText(text, Qt::ElideRight, room);
    if (label.text() != shown) {
        label.setText(shown);
    }
    const QString tip = shown == text ? QString() : text;
    if (label.toolTip() != tip) {
        label.setToolTip(tip);
    }
}

QString shortTime(const QTime& time, const QLocale& locale) {
    if (locale.language() == QLocale::C) {
        return time.toString(QStringLiteral("HH:mm"));
    }
    return locale.toString(time, QLocale::ShortFormat);
}

} // namespace vesperon::gui
