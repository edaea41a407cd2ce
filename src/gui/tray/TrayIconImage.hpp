#pragma once

#include <QIcon>
#include <QString>

#include "gui/Appearance.hpp"

namespace vesperon::gui {

// The tray icon's image: our MenuBarIcon drawn in one colour (a template image tinted
// for the tray), or the moon symbol when that file is missing. With a remaining time
// ("45m", "1h 5m") the time is drawn on the icon as well, for trays that show no text
// beside their icons.
[[nodiscard]] QIcon trayIconImage(const Appearance& appearance, const QString& remaining);

// The tool tip: "Vesperon", and the remaining time after it while a session runs.
[[nodiscard]] QString trayToolTip(const QString& remaining);

} // namespace vesperon::gui
