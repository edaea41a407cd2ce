// The real application in a tray: Xvfb with trayer (an XEmbed tray), a private
// session bus with python3-dbusmock's notification service, and a sandboxed machine.
// Driven from outside with xdotool, as a person would; a StatusNotifierWatcher with its host
// (status_notifier_host.py) joins the bus where the item is shown beside its label, and
// the desktop portal's global shortcuts (shortcuts_portal.py) on a Wayland session.
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
constexpr int fiveMinutesX = 48, fiveMinutesY = 264;
constexpr int mainButtonX = 170, mainButtonY = 458;
constexpr int hoursX = 52, minutesX = 206, customY = 336;

class TrayApp : public ::testing::Test {
  protected:
    SandboxedMachine machine;
    DesktopSession desktop{DesktopSession::Parts{true, true}};
    std::unique_ptr<BackgroundProcess> app;

    void SetUp() override {
        ASSERT_EQ(machine.failure() + desktop.failure(), "");
        ::setenv("VESPERON_SANDBOX", machine.root().c_str(), 1);
    }

    // The tray icon ("Vesperon": found by its class, as trays do not show its title)
    // or a shown window of that title; never Qt's 1 x 1 leader window.
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

    bool iconShown(double seconds = 60) const {
        return waitUntil([&] { return window("Vesperon").has_value(); }, seconds);
    }

    // The panel once it shows, after a click on the icon or an item's Activate call.
    Frame shownPanel() const {
        std::optional<Frame> panel;
        EXPECT_TRUE(waitUntil([&] { return (panel = window("Vesperon panel")).has_value(); }, 30));
        return panel.value_or(Frame{});
    }

    Frame openPanel() {
        auto icon = window("Vesperon");
        EXPECT_TRUE(icon.has_value());
        click((*icon)["X"] + (*icon)["WIDTH"] / 2, (*icon)["Y"] + (*icon)["HEIGHT"] / 2);
        return shownPanel();
    }

    bool overrideIs(const std::string& state, double seconds) const {
        return waitUntil([&] { return machine.state()["override"] == state; }, seconds);
    }

    void startApp() {
        app = std::make_unique<BackgroundProcess>(std::vector<std::string>{VESPERON_EXECUTABLE},
                                                  desktop.environment());
    }

    // Starts a five-minute session from the open panel and waits until it is verified.
    void startSession(const Frame& panel) {
        click(panel.at("X") + fiveMinutesX, panel.at("Y") + fiveMinutesY);
        click(panel.at("X") + mainButtonX, panel.at("Y") + mainButtonY);
        ASSERT_TRUE(overrideIs("on", 60));
        ::sleep(5); // verified 3 seconds after the helper's answer
    }
};

TEST_F(TrayApp, PanelSessionIsNotifiedShortcutStartsAndTerminationEndsTheSessionFirst) {
    PreferencesStore store(std::make_unique<PropertyListFile>(
        userHomeFolder() + "/.config/vesperon/preferences.plist"));
    ASSERT_TRUE(store.setSessionAlertsEnabled(true));
    const std::string log = machine.root() + "/notifications.log";
    BackgroundProcess notifications(
        {"/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon", "-l", log},
        desktop.environment());
    const std::vector<std::string> ask{"/usr/bin/dbus-send",
                                       "--session",
                                       "--print-reply",
                                       "--dest=org.freedesktop.Notifications",
                                       "/org/freedesktop/Notifications",
                                       "org.freedesktop.Notifications.GetServerInformation"};
    ASSERT_TRUE(
        waitUntil([&] { return runProcess(ask, desktop.environment(), 10).status == 0; }, 30));
    startApp();
    ASSERT_TRUE(iconShown()) << "no tray icon";
    // The sandbox's administrator prompt grants; the watcher switches the override on.
    Frame panel = openPanel();
    ASSERT_NO_FATAL_FAILURE(startSession(panel));
    click(panel["X"] + mainButtonX, panel["Y"] + mainButtonY); // End session
    ASSERT_TRUE(overrideIs("off", 60));
    EXPECT_TRUE(waitUntil([&] { return machine.restored(); }, 30));
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::string text = readFile(log);
            return text.contains("Ended manually") &&
                   text.contains("Vesperon restored normal sleep.");
        },
        30))
        << readFile(log);
    click(200, 600); // outside: the popup closes
    EXPECT_TRUE(waitUntil([&] { return !window("Vesperon panel").has_value(); }, 10));

    // Asked to terminate during a session, the app ends it first and exits once normal
    // sleep is back. (The app sees the last session over on its next tick.)
    ::sleep(3);
    ASSERT_EQ(desktop.xdotool({"key", "ctrl+alt+super+space"}).status, 0);
    ASSERT_TRUE(overrideIs("on", 60));
    ::sleep(4); // verified and active
    ASSERT_EQ(::kill(app->pid(), SIGTERM), 0);
    EXPECT_TRUE(overrideIs("off", 60));
    int status = 0;
    EXPECT_TRUE(
        waitUntil([&] { return ::waitpid(app->pid(), &status, WNOHANG) == app->pid(); }, 30));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(machine.restored());
}

// One click on the tray icon opens the panel: after the pointer rested on the icon
// long enough for its tool tip, while the title changes on every tick, and right after
// a click elsewhere closed the panel.
TEST_F(TrayApp, OneClickOnTheIconOpensThePanel) {
    startApp();
    ASSERT_TRUE(iconShown()) << "no tray icon";
    ASSERT_NO_FATAL_FAILURE(startSession(openPanel()));
    for (int round = 0; round < 2; ++round) {
        click(200, 600); // outside: the popup closes
        ASSERT_TRUE(waitUntil([&] { return !window("Vesperon panel").has_value(); }, 10));
        const Frame icon = window("Vesperon").value_or(Frame{});
        const std::string x = std::to_string(icon.at("X") + icon.at("WIDTH") / 2);
        const std::string y = std::to_string(icon.at("Y") + icon.at("HEIGHT") / 2);
        ASSERT_EQ(desktop.xdotool({"mousemove", x, y}).status, 0);
        ::sleep(2); // the tool tip shows
        ASSERT_EQ(desktop.xdotool({"click", "1"}).status, 0);
        EXPECT_TRUE(shownPanel().contains("X"))
            << "round " << round << ": a click after the tool tip";

        // Closed by a click elsewhere, and the icon clicked at once.
        ASSERT_EQ(
            desktop
                .xdotool({"mousemove", "200", "600", "click", "1", "mousemove", x, y, "click", "1"})
                .status,
            0);
        ::sleep(1);
        EXPECT_TRUE(shownPanel().contains("X"))
            << "round " << round << ": a click right after closing";
    }
}

// With a StatusNotifierWatcher and its host on the bus the item is published there: no
// XEmbed icon, the countdown as its label (" 4h", " 2h", " 1h 5m", " 5m", then empty),
// the moon in several sizes, and Activate opens the panel. When the watcher goes, the
// XEmbed icon takes over.
TEST_F(TrayApp, WithAStatusNotifierHostTheCountdownIsTheLabelBesideTheIcon) {
    const std::string log = machine.root() + "/host.log";
    auto host = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{"/usr/bin/python3", STATUS_NOTIFIER_HOST, log},
        desktop.environment());
    ASSERT_TRUE(waitUntil([&] { return readFile(log).find("watching") != std::string::npos; }, 30));
    const auto logged = [&](const std::string& line) {
        return waitUntil([&] { return readFile(log).find(line + "\n") != std::string::npos; }, 30);
    };
    startApp();
    ASSERT_TRUE(
        logged("registered org.kde.StatusNotifierItem-" + std::to_string(app->pid()) + "-1"))
        << readFile(log);
    EXPECT_TRUE(logged("label ''"));
    EXPECT_TRUE(logged("icon 16x16 22x22 24x24 32x32 44x44 48x48")) << readFile(log);
    EXPECT_TRUE(logged("icon file vesperon-status"));
    EXPECT_FALSE(window("Vesperon").has_value()) << "an XEmbed icon besides the item";

    // A host's click on the item at 1200, 20.
    ASSERT_EQ(runProcess({"/usr/bin/dbus-send", "--session", "--print-reply",
                          "--dest=org.kde.StatusNotifierItem-" + std::to_string(app->pid()) + "-1",
                          "/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate",
                          "int32:1200", "int32:20"},
                         desktop.environment(), 30)
                  .status,
              0);
    Frame panel = shownPanel();
    EXPECT_EQ(panel["Y"], 24); // under the point the host named

    // Sessions of a custom length: each one's countdown is the label while it runs, and
    // the label is empty once it is over.
    for (const auto& [hours, minutes, label] : std::vector<std::array<std::string, 3>>{
             {"2", "0", " 2h"}, {"1", "5", " 1h 5m"}, {"0", "5", " 5m"}}) {
        for (const auto& [x, text] : {std::pair{hoursX, hours}, std::pair{minutesX, minutes}}) {
            click(panel["X"] + x, panel["Y"] + customY);
            ASSERT_EQ(desktop.xdotool({"key", "ctrl+a", "type", text}).status, 0);
        }
        click(panel["X"] + mainButtonX, panel["Y"] + mainButtonY);
        ASSERT_TRUE(overrideIs("on", 60));
        EXPECT_TRUE(logged("label '" + label + "'")) << readFile(log);
        EXPECT_TRUE(logged("tooltip '" + label.substr(1) + " left'"));
        ::sleep(2);
        click(panel["X"] + mainButtonX, panel["Y"] + mainButtonY); // End session
        ASSERT_TRUE(overrideIs("off", 60));
        EXPECT_TRUE(waitUntil([&] { return machine.restored(); }, 30));
        EXPECT_TRUE(waitUntil(
            [&] {
                const std::string text = readFile(log);
                return text.rfind("label ''") > text.rfind("label '" + label + "'");
            },
            30))
            << readFile(log);
        ::sleep(3); // the app sees the session over on its next tick
    }

    host.reset(); // the watcher goes: the XEmbed icon takes over, and one click opens it
    click(200, 600);
    ASSERT_TRUE(iconShown(30)) << "no fallback";
    openPanel();
}

// On a Wayland session the shortcut is the desktop portal's: bound with its preferred
// trigger, and each Activated signal for it starts or ends a session.
TEST_F(TrayApp, OnAWaylandSessionThePortalsShortcutStartsAndEndsASession) {
    const std::string log = machine.root() + "/portal.log";
    BackgroundProcess portal({"/usr/bin/python3", SHORTCUTS_PORTAL, log}, desktop.environment());
    ASSERT_TRUE(waitUntil([&] { return readFile(log).find("ready") != std::string::npos; }, 30));
    std::vector<std::string> environment = desktop.environment();
    environment.push_back("XDG_SESSION_TYPE=wayland");
    app = std::make_unique<BackgroundProcess>(std::vector<std::string>{VESPERON_EXECUTABLE},
                                              environment);
    ASSERT_TRUE(waitUntil(
        [&] {
            return readFile(log).find(
                       "bound toggle-session CTRL+ALT+LOGO+space 'Start or end a session'\n") !=
                   std::string::npos;
        },
        60))
        << readFile(log);
    ASSERT_EQ(::kill(portal.pid(), SIGUSR1), 0);
    ASSERT_TRUE(overrideIs("on", 60)) << readFile(log);
    ::sleep(5); // verified 3 seconds after the helper's answer
    ASSERT_EQ(::kill(portal.pid(), SIGUSR1), 0);
    EXPECT_TRUE(overrideIs("off", 60));
    EXPECT_TRUE(waitUntil([&] { return machine.restored(); }, 30));
}

} // namespace
} // namespace vesperon::e2e
