#include "app/SettingsMenu.hpp"

#include "app/AppDelegate.hpp"
#include "app/LoginItem.hpp"

namespace vesperon {
namespace {

MenuEntry command(std::string title, std::function<void()> action, bool checked = false) {
    MenuEntry entry;
    entry.title = std::move(title);
    entry.action = std::move(action);
    entry.checked = checked;
    return entry;
}

MenuEntry separator() {
    MenuEntry entry;
    entry.separator = true;
    return entry;
}

MenuEntry submenu(std::string title, std::vector<MenuEntry> entries) {
    MenuEntry entry;
    entry.title = std::move(title);
    entry.submenu = std::move(entries);
    return entry;
}

} // namespace

std::vector<MenuEntry> settingsMenu(AppDelegate& app) {
    AppDelegate* owner = &app;
    std::vector<MenuEntry> presets;
    for (const SavedPreset& preset : app.preferences().presets()) {
        presets.push_back(
            command(preset.name, [owner, id = preset.id.text()] { owner->selectPreset(id); }));
    }
    presets.push_back(separator());
    presets.push_back(command("Save selected duration…", [owner] { owner->savePreset(); }));
    presets.push_back(command("Delete a preset…", [owner] { owner->deletePreset(); }));

    const LoginItem loginItem(app.environment().homeDirectory, app.environment().executablePath);
    return {
        command("Custom duration…", [owner] { owner->customDuration(); }),
        command("Connect coding agents…", [owner] { owner->connectAgents(); }),
        submenu("Start another duration",
                {command("2-hour session", [owner] { owner->start(7200); }),
                 command("8-hour session", [owner] { owner->start(28800); })}),
        submenu("Presets", std::move(presets)),
        separator(),
        command("Toggle session  \u2303\u2325\u2318Space", [owner] { owner->toggleHotKey(); }),
        command(
            "Allow URL automation", [owner] { owner->toggleAutomation(); },
            app.preferences().automationEnabled()),
        command(
            "Session-ended alerts", [owner] { owner->toggleSessionAlerts(); },
            app.preferences().sessionAlertsEnabled()),
        command(
            "Open at login", [owner] { owner->login(); }, loginItem.enabled()),
        command("Restore normal sleep…", [owner] { owner->restore(); }),
        command("Contact support…", [owner] { owner->support(); }),
        command("About Vesperon", [owner] { owner->about(); }),
        command("Quit", [owner] { owner->quit(); }),
    };
}

} // namespace vesperon
