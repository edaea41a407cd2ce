// The real application in a tray: Xvfb with trayer (an XEmbed tray), a private
// session bus with the notification service stand-in, and a sandboxed machine. Driven
// from outside with xdotool, as a person would.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

#include "DesktopSession.hpp"
#include "SandboxedMachine.hpp"
#include "platform/UserHome.hpp"
#include "preferences/PreferencesStore.hpp"
#include "preferences/PropertyListFile.hpp"

namespace vesperon::e2e {
namespace {

struct Frame {
    int x = 0, y = 0, width = 0, height = 0;
};

// Panel positions in points from its top-left corner.
constexpr int fiveMinutesX = 48, fiveMinutesY = 264;
constexpr int mainButtonX = 170, mainButtonY = 458;
constexpr int gearX = 304, gearY = 30;

class TrayApp : public ::testing::Test {
  protected:
    SandboxedMachine machine;
    DesktopSession desktop{DesktopSession::Parts{true, true, true}};
    std::unique_ptr<BackgroundProcess> app;

    void SetUp() override {
        ASSERT_EQ(machine.failure(), "");
        ASSERT_EQ(desktop.failure(), "");
        ::setenv("VESPERON_SANDBOX", machine.root().c_str(), 1);
    }

    void setPreferences(bool alerts, bool automation) {
        PreferencesStore store(std::make_unique<PropertyListFile>(
            userHomeFolder() + "/.config/vesperon/preferences.plist"));
        ASSERT_TRUE(store.setSessionAlertsEnabled(alerts));
        ASSERT_TRUE(store.setAutomationEnabled(automation));
    }

    void launch() {
        app = std::make_unique<BackgroundProcess>(std::vector<std::string>{VESPERON_EXECUTABLE},
                                                  desktop.environment());
        ASSERT_TRUE(waitUntil([&] { return window("Vesperon").has_value(); }, 60))
            << "no tray icon";
    }

    // The tray icon ("Vesperon": found by its class, as trays do not show its title)
    // or a shown window of that title; never Qt's 1 x 1 leader window.
    std::optional<Frame> window(const std::string& name) const {
        const bool icon = name == "Vesperon";
        std::vector<std::string> args{"search", "--classname", "^vesperon$"};
        if (!icon) {
            args = {"search", "--onlyvisible", "--name", "^" + name + "$"};
        }
        for (const char* word : {"getwindowgeometry", "--shell", "%@"}) {
            args.push_back(word);
        }
        const ProcessOutcome found = desktop.xdotool(args);
        std::istringstream lines(found.out);
        std::optional<Frame> frame;
        const auto field = [](const std::string& line, const char* key, int& into) {
            if (line.rfind(key, 0) == 0) {
                into = std::atoi(line.c_str() + std::strlen(key));
            }
        };
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("WINDOW=", 0) == 0) {
                if (frame && frame->width > 1 && frame->height > 1) {
                    return frame;
                }
                frame = Frame{};
            } else if (frame) {
                field(line, "X=", frame->x);
                field(line, "Y=", frame->y);
                field(line, "WIDTH=", frame->width);
                field(line, "HEIGHT=", frame->height);
            }
        }
        if (frame && frame->width > 1 && frame->height > 1) {
            return frame;
        }
        return std::nullopt;
    }

    int windowsNamed(const std::string& name) const {
        const ProcessOutcome found =
            desktop.xdotool({"search", "--onlyvisible", "--name", "^" + name + "$"});
        return found.status == 0
                   ? static_cast<int>(std::count(found.out.begin(), found.out.end(), '\n'))
                   : 0;
    }

    void click(int x, int y) const {
        ASSERT_EQ(desktop.xdotool({"mousemove", std::to_string(x), std::to_string(y), "click", "1"})
                      .status,
                  0);
    }

    Frame openPanel() {
        const auto icon = window("Vesperon");
        EXPECT_TRUE(icon.has_value());
        click(icon->x + icon->width / 2, icon->y + icon->height / 2);
        std::optional<Frame> panel;
        EXPECT_TRUE(waitUntil([&] { return (panel = window("Vesperon panel")).has_value(); }, 30));
        return panel.value_or(Frame{});
    }

    bool overrideIs(const std::string& state, double seconds) const {
        return waitUntil([&] { return machine.state()["override"] == state; }, seconds);
    }

    // Screenshots for a person to look at, when VESPERON_SCREENSHOTS names a folder.
    void screenshot(const std::string& name) const {
        if (const char* folder = std::getenv("VESPERON_SCREENSHOTS")) {
            (void)desktop.screenshot(std::string(folder) + "/" + name + ".png");
        }
    }

    // The session's heartbeat file, as the helper recorded it.
    double heartbeatAge() const {
        const std::string record = readFile(machine.recordPath());
        const std::size_t end = record.find("/heartbeat\"");
        const std::size_t begin = end == std::string::npos ? end : record.rfind('"', end);
        struct stat info {};
        if (begin == std::string::npos ||
            ::stat(record.substr(begin + 1, end + 10 - begin - 1).c_str(), &info) != 0) {
            return 1e9;
        }
        return static_cast<double>(std::time(nullptr) - info.st_mtime);
    }
};

TEST_F(TrayApp, PanelStartsAndEndsASessionAndTheEndIsNotified) {
    setPreferences(true, false);
    launch();
    screenshot("1-tray");
    const Frame panel = openPanel();
    EXPECT_EQ(panel.width, 340);
    EXPECT_EQ(panel.height, 520);
    screenshot("2-panel");

    click(panel.x + fiveMinutesX, panel.y + fiveMinutesY);
    click(panel.x + mainButtonX, panel.y + mainButtonY);
    // The sandbox's administrator prompt grants; the watcher switches the override on.
    ASSERT_TRUE(overrideIs("on", 60));
    // The app verifies the override 3 seconds after the helper's answer; then the
    // panel offers "End session".
    ::sleep(5);
    screenshot("3-active");

    click(panel.x + mainButtonX, panel.y + mainButtonY); // "End session"
    ASSERT_TRUE(overrideIs("off", 60));
    EXPECT_TRUE(waitUntil([&] { return machine.restored(); }, 30));
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::string log = desktop.notificationLog();
            return log.find("Ended manually") != std::string::npos &&
                   log.find("Vesperon restored normal sleep.") != std::string::npos;
        },
        30))
        << desktop.notificationLog();
    screenshot("4-restored");

    // Outside click closes the popup.
    click(200, 600);
    EXPECT_TRUE(waitUntil([&] { return !window("Vesperon panel").has_value(); }, 10));
}

TEST_F(TrayApp, ShortcutAndURLsDriveSessionsOnlyAsAllowed) {
    setPreferences(false, false);
    launch();
    // Automation off: the URL is handed over (status 0) and nothing starts.
    ProcessOutcome ignored =
        runProcess({VESPERON_EXECUTABLE, "vesperon://start?minutes=2"}, desktop.environment(), 60);
    EXPECT_EQ(ignored.status, 0) << ignored.err;
    EXPECT_FALSE(overrideIs("on", 5));

    ASSERT_EQ(desktop.xdotool({"key", "ctrl+alt+super+space"}).status, 0);
    ASSERT_TRUE(overrideIs("on", 60));
    ASSERT_EQ(desktop.xdotool({"key", "ctrl+alt+super+space"}).status, 0);
    ASSERT_TRUE(overrideIs("off", 60));
    EXPECT_TRUE(waitUntil([&] { return machine.restored(); }, 30));
    EXPECT_EQ(desktop.notificationLog().find("Notify"), std::string::npos); // alerts off

    // Asked to terminate during a session, the app ends the session first and exits
    // once normal sleep is back. (The app sees the last session over on its next tick.)
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

TEST_F(TrayApp, ShortcutHeldByAnotherClientStartsNothing) {
    setPreferences(false, false);
    BackgroundProcess holder({VESPERON_SHORTCUT_HOLDER}, desktop.environment());
    ::sleep(3); // the holder connects and grabs first
    launch();
    ASSERT_EQ(desktop.xdotool({"key", "ctrl+alt+super+space"}).status, 0);
    EXPECT_FALSE(overrideIs("on", 6));
    openPanel();
    screenshot("6-shortcut-unavailable"); // the outcome line: "Session shortcut unavailable"
}

TEST_F(TrayApp, URLAutomationStartsASessionAndAKilledAppIsRecoveredByTheWatcher) {
    setPreferences(false, true);
    launch();
    ProcessOutcome started =
        runProcess({VESPERON_EXECUTABLE, "vesperon://start?minutes=2"}, desktop.environment(), 60);
    EXPECT_EQ(started.status, 0) << started.err;
    ASSERT_TRUE(overrideIs("on", 60));

    // A modal dialog open across several ticks: the heartbeat goes on underneath.
    const Frame panel = openPanel();
    click(panel.x + gearX, panel.y + gearY);
    ASSERT_EQ(desktop.xdotool({"sleep", "1", "key", "Down", "Down", "Return"}).status, 0);
    // The dialog is the one shown window titled "Vesperon".
    ASSERT_TRUE(waitUntil([&] { return windowsNamed("Vesperon") == 1; }, 30));
    screenshot("5-dialog");
    const double start = steadySeconds();
    while (steadySeconds() - start < 7) {
        EXPECT_LE(heartbeatAge(), 4.0);
        ::usleep(500 * 1000);
    }
    EXPECT_EQ(machine.state()["override"], "on");
    ASSERT_EQ(desktop.xdotool({"key", "Escape"}).status, 0); // "Cancel": nothing is connected

    app->kill();
    // The heartbeat goes stale and the watcher restores normal sleep by itself.
    EXPECT_TRUE(overrideIs("off", 90));
    EXPECT_TRUE(waitUntil([&] { return machine.restored(); }, 30));
}

} // namespace
} // namespace vesperon::e2e
