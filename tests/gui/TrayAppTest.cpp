// The real application in a tray (Xvfb with trayer, an XEmbed tray) on a private session
// bus and a sandboxed machine, driven from outside with xdotool as a person would.
#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <map>
#include <sstream>
#include <sys/wait.h>

#include "DesktopSession.hpp"
#include "SandboxedMachine.hpp"
#include "platform/UserHome.hpp"
#include "preferences/PreferencesStore.hpp"
#include "preferences/PropertyListFile.hpp"

namespace vesperon::e2e {
namespace {

using Frame = std::map<std::string, int>; // X, Y, WIDTH and HEIGHT

// Panel positions in points from its top-left corner.
constexpr int mainButtonX = 170, mainButtonY = 458;
constexpr int hoursX = 52, minutesX = 206, customY = 336;

class TrayApp : public ::testing::Test {
  protected:
    SandboxedMachine machine;
    DesktopSession desktop{true};
    std::unique_ptr<BackgroundProcess> app;

    void SetUp() override {
        ASSERT_EQ(machine.failure() + desktop.failure(), "");
        ::setenv("VESPERON_SANDBOX", machine.root().c_str(), 1);
    }

    // The tray icon ("Vesperon", by its class: trays hide its title) or a shown window of
    // that title; never Qt's 1 x 1 leader window.
    std::optional<Frame> window(const std::string& name) const {
        std::vector<std::string> args =
            name == "Vesperon"
                ? std::vector<std::string>{"search", "--classname", "^vesperon$"}
                : std::vector<std::string>{"search", "--onlyvisible", "--name", "^" + name + "$"};
        args.insert(args.end(), {"getwindowgeometry", "--shell", "%@"});
        // Each window's lines begin with WINDOW=; a last one closes the final window.
        std::istringstream lines(desktop.xdotool(args).out + "WINDOW=\n");
        Frame f;
        for (std::string line; std::getline(lines, line);) {
            const std::string key = line.substr(0, line.find('='));
            if (key == "WINDOW" && f["WIDTH"] > 1 && f["HEIGHT"] > 1) {
                return f;
            }
            f[key] = key == "WINDOW" ? 0 : std::atoi(line.c_str() + key.size() + 1);
        }
        return std::nullopt;
    }

    void click(int x, int y) const {
        const auto clicked =
            desktop.xdotool({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
        ASSERT_EQ(clicked.status, 0);
    }

    Frame shownPanel() const {
        std::optional<Frame> panel;
        EXPECT_TRUE(waitUntil([&] { return (panel = window("Vesperon panel")).has_value(); }, 30));
        return panel.value_or(Frame{});
    }

    Frame openPanel() {
        std::optional<Frame> icon;
        EXPECT_TRUE(waitUntil([&] { return (icon = window("Vesperon")).has_value(); }, 60))
            << "no tray icon";
        Frame f = icon.value_or(Frame{});
        click(f["X"] + f["WIDTH"] / 2, f["Y"] + f["HEIGHT"] / 2);
        return shownPanel();
    }

    bool overrideIs(const std::string& state, double seconds) const {
        return waitUntil([&] { return machine.state()["override"] == state; }, seconds);
    }

    bool onBus(const std::string& name) const {
        return runProcess({"/usr/bin/gdbus", "wait", "--session", "--timeout=30", name},
                          desktop.environment(), 40)
                   .status == 0;
    }

    bool logged(const std::string& log, const std::string& text, double seconds = 30) const {
        return waitUntil([&] { return readFile(log).contains(text); }, seconds);
    }
};

// The item goes to the StatusNotifierWatcher's host instead of the XEmbed icon, the alerts
// to the notification service, the Wayland shortcut to the portal. When the watcher goes
// the XEmbed icon takes over; a terminated app ends its session first.
TEST_F(TrayApp, ThroughTheHostTheNotificationsAndThePortalsShortcut) {
    PreferencesStore store(std::make_unique<PropertyListFile>(
        userHomeFolder() + "/.config/vesperon/preferences.plist"));
    ASSERT_TRUE(store.setSessionAlertsEnabled(true));
    const std::string log = machine.root() + "/host.log";
    const std::string alerts = machine.root() + "/notifications.log";
    const std::string portalLog = machine.root() + "/portal.log";
    BackgroundProcess notifications(
        {"/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon", "-l", alerts},
        desktop.environment());
    BackgroundProcess portal({"/usr/bin/python3", DESKTOP_SERVICES, "portal", portalLog},
                             desktop.environment());
    auto host = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{"/usr/bin/python3", DESKTOP_SERVICES, "host", log},
        desktop.environment());
    ASSERT_TRUE(onBus("org.freedesktop.Notifications") && onBus("org.freedesktop.portal.Desktop") &&
                onBus("org.kde.StatusNotifierWatcher"));
    std::vector<std::string> environment = desktop.environment();
    environment.push_back("XDG_SESSION_TYPE=wayland"); // the shortcut is the portal's
    app = std::make_unique<BackgroundProcess>(std::vector<std::string>{VESPERON_EXECUTABLE},
                                              environment);
    const std::string item = "org.kde.StatusNotifierItem-" + std::to_string(app->pid()) + "-1";
    ASSERT_TRUE(logged(log, "registered " + item + "\n")) << readFile(log);
    EXPECT_TRUE(logged(log, "icon 16x16 22x22 24x24 32x32 44x44 48x48\n")) << readFile(log);
    EXPECT_TRUE(logged(log, "icon file vesperon-status"));
    EXPECT_FALSE(window("Vesperon").has_value()) << "an XEmbed icon besides the item";

    ASSERT_EQ(runProcess({"/usr/bin/dbus-send", "--session", "--print-reply", "--dest=" + item,
                          "/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate",
                          "int32:1200", "int32:20"},
                         desktop.environment(), 30)
                  .status,
              0);
    Frame panel = shownPanel();
    EXPECT_EQ(panel["Y"], 24); // under the point the host named

    // Each custom session's countdown is the label while it runs, empty once it is over.
    for (const auto& [hours, minutes, label] : std::vector<std::array<std::string, 3>>{
             {"2", "0", " 2h"}, {"1", "5", " 1h 5m"}, {"0", "5", " 5m"}}) {
        for (const auto& [x, text] : {std::pair{hoursX, hours}, std::pair{minutesX, minutes}}) {
            click(panel["X"] + x, panel["Y"] + customY);
            ASSERT_EQ(desktop.xdotool({"key", "ctrl+a", "type", text}).status, 0);
        }
        click(panel["X"] + mainButtonX, panel["Y"] + mainButtonY);
        ASSERT_TRUE(overrideIs("on", 60));
        EXPECT_TRUE(logged(log, "label '" + label + "'")) << readFile(log);
        EXPECT_TRUE(logged(log, "tooltip '" + label.substr(1) + " left'"));
        ::sleep(2);
        click(panel["X"] + mainButtonX, panel["Y"] + mainButtonY); // End session
        ASSERT_TRUE(overrideIs("off", 60));
        EXPECT_TRUE(waitUntil([&] { return machine.restored(); }, 30));
        const auto cleared = [&] {
            const std::string text = readFile(log);
            return text.rfind("label ''") > text.rfind("label '" + label + "'");
        };
        EXPECT_TRUE(waitUntil(cleared, 30)) << readFile(log);
        ::sleep(3); // the app sees the session over on its next tick
    }
    EXPECT_TRUE(logged(alerts, "Ended manually") &&
                logged(alerts, "Vesperon restored normal sleep."))
        << readFile(alerts);

    // The portal's shortcut, bound with its preferred trigger, starts a session.
    ASSERT_TRUE(
        logged(portalLog, "bound toggle-session CTRL+ALT+LOGO+space 'Start or end a session'\n"))
        << readFile(portalLog);
    ASSERT_EQ(::kill(portal.pid(), SIGUSR1), 0);
    ASSERT_TRUE(overrideIs("on", 60));
    ::sleep(5); // verified 3 seconds after the helper's answer

    host.reset(); // the watcher goes: the XEmbed icon takes over, and one click opens it
    click(200, 600);
    openPanel();

    ASSERT_EQ(::kill(app->pid(), SIGTERM), 0);
    EXPECT_TRUE(overrideIs("off", 60));
    int status = 0;
    EXPECT_TRUE(
        waitUntil([&] { return ::waitpid(app->pid(), &status, WNOHANG) == app->pid(); }, 30));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(machine.restored());
}

} // namespace
} // namespace vesperon::e2e
