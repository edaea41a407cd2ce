#pragma once

#include <QString>
#include <string_view>

class QLabel;
class QLocale;
class QTime;

namespace vesperon::gui {

// A text of the application as Qt shows it as written: labels and window titles.
QString qtText(std::string_view text);

// A text for a control that reads "&" as the mark of its keyboard mnemonic (push
// buttons, menu items, dialog buttons): each "&" doubled, so "Run & stay awake" shows
// as written instead of "Run _stay awake".
QString controlText(std::string_view text);

// Sets `text` on a one-line label so that it fits the label's frame in the label's
// font: elided at the end when it is wider, with the whole text as the tool tip.
void setFittedText(QLabel& label, const QString& text);

// `time` in the short time style of `locale` (hours and minutes: "15:18", "3:39 PM").
// Qt gives the C locale a style with seconds; it reads hours and minutes here too.
QString shortTime(const QTime& time, const QLocale& locale);

} // namespace vesperon::gui
