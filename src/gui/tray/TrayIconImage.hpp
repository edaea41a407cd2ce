#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QString>
#include <string>

#include "gui/Appearance.hpp"

namespace vesperon::gui {

// The square sizes, in pixels, that the status item's image is offered in.
inline constexpr int statusImageSizes[] = {16, 22, 24, 32, 44, 48};

// The status item's image, `pixels` square: our MenuBarIcon drawn in `tint` (a template
// image tinted for the tray), or the moon symbol when that file is missing. With a
// short form ("5m", "2h") the time is drawn instead of the moon, as large as the
// square allows, for trays that show no title beside their icons.
[[nodiscard]] QImage statusImage(const Appearance& appearance, int pixels, const QString& shortForm,
                                 const QColor& tint);

// The title's leading unit: " 1h 5m" gives "1h", " 45m" gives "45m", "" gives "".
[[nodiscard]] QString leadingUnit(const std::string& title);

// Template images are drawn in the colour of the tray's text.
[[nodiscard]] QColor trayTint();

// The image in every offered size, for Qt's tray icon.
[[nodiscard]] QIcon trayIconImage(const Appearance& appearance, const QString& shortForm);

// The tool tip: "Vesperon", and the remaining time after it while a session runs.
[[nodiscard]] QString trayToolTip(const QString& remaining);

} // namespace vesperon::gui
