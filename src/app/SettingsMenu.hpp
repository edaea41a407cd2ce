#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vesperon {

class AppDelegate;

// One entry of the panel's settings menu: a command, a submenu or a separator.
struct MenuEntry {
    std::string title;
    std::function<void()> action; // empty for submenus and separators
    bool checked = false;
    bool separator = false;
    std::vector<MenuEntry> submenu;
};

// The settings menu as it reads right now; built afresh every time it opens, so
// presets and switches show their current state. Each action calls the controller.
std::vector<MenuEntry> settingsMenu(AppDelegate& app);

} // namespace vesperon
