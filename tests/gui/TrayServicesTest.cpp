// The desktop side of the application on a real X server: modal dialogs with the
// main-queue timer running underneath (a cross-thread post and a cancelled timer too),
// and the global shortcut's key grab.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <thread>

#include "DesktopSession.hpp"
#include "SandboxedMachine.hpp"
#include "TempFolder.hpp"
#include "gui/AboutContentView.hpp"
#include "gui/Appearance.hpp"
#include "gui/tray/DesktopWorkspace.hpp"
#include "gui/tray/DialogWindows.hpp"
#include "gui/tray/PanelPopup.hpp"
#include "gui/tray/QtScheduler.hpp"
#include "gui/tray/X11HotKey.hpp"

namespace vesperon::gui {
namespace {

class OnDesktop : public ::testing::Test {
  protected:
    e2e::DesktopSession desktop{e2e::DesktopSession::Parts{}};
    std::unique_ptr<QApplication> application;

    void SetUp() override {
        ASSERT_EQ(desktop.failure(), "");
        ::setenv("DISPLAY", desktop.display().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "tray-services-test";
        static char* argv[] = {name, nullptr};
        application = std::make_unique<QApplication>(argc, argv);
    }

    // Runs the event loop until `done` holds or `seconds` pass.
    static bool spinUntil(const std::function<bool()>& done, double seconds) {
        return e2e::waitUntil(
            [&] {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
                return done();
            },
            seconds);
    }

    // Once the dialog is up, does `act` on it (the only modal window).
    void whenDialogShows(QtScheduler& scheduler, std::function<void(QWidget&)> act) {
        scheduler.after(0.6, [this, &scheduler, act] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                act(*dialog);
            } else {
                whenDialogShows(scheduler, act);
            }
        });
    }
};

TEST_F(OnDesktop, DialogsAnswerWhileTheTimerKeepsFiringAndPostsRunOnTheMainThread) {
    QtScheduler scheduler;
    int ticks = 0;
    const auto timer = scheduler.every(0.1, [&] { ++ticks; });

    // Save preset: the typed name and the default button (Return), after a few more
    // ticks with the dialog open.
    int ticksWhenShown = 0;
    whenDialogShows(scheduler, [&](QWidget& dialog) {
        ticksWhenShown = ticks;
        QTest::keyClicks(dialog.focusWidget(), QStringLiteral("Nightly"));
        scheduler.after(0.5, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Return); });
    });
    const DialogAnswer saved = showDialog(Dialogs::savePreset());
    EXPECT_EQ(saved.button, 0);
    EXPECT_EQ(saved.text, "Nightly");
    EXPECT_GE(ticks - ticksWhenShown, 3);

    // The pop-up's selection comes back.
    whenDialogShows(scheduler, [](QWidget& dialog) {
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Down);
        QTest::keyClick(&dialog, Qt::Key_Return);
    });
    const DialogAnswer chosen = showDialog(Dialogs::whatAreYouRunning());
    EXPECT_EQ(chosen.button, 0);
    EXPECT_EQ(chosen.selectedItem, 1);

    // A post from another thread runs on this one; a cancelled timer stops.
    std::thread::id ranOn;
    std::thread([&] { scheduler.post([&] { ranOn = std::this_thread::get_id(); }); }).join();
    scheduler.cancel(timer);
    const int atCancel = ticks;
    EXPECT_TRUE(spinUntil([&] { return ranOn == std::this_thread::get_id(); }, 10));
    spinUntil([] { return false; }, 0.3);
    EXPECT_EQ(ticks, atCancel);
}

// A label as the style draws it: "&&" is an "&", a single "&" only marks a mnemonic.
QString shownText(const QString& text) {
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) {
            ++i;
        }
        shown += text[i];
    }
    return shown;
}

// The dialogs and alerts as a person sees them: texts with "&" as written, a bold title
// over the text, the width of the desktop's own alerts, no icons on buttons, and the
// panel's dark colours in dialogs and menus alike.
TEST_F(OnDesktop, DialogsAndAlertsReadAsWrittenInThePanelsColours) {
    Appearance::desktop().applyApplicationWide();
    QtScheduler scheduler;
    QString runButton;
    whenDialogShows(scheduler, [&](QWidget& dialog) {
        if (auto* run = dialog.findChild<QPushButton*>(QStringLiteral("dialogButton0"))) {
            runButton = run->text();
        }
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(showDialog(Dialogs::runTask()).button, 1); // Escape answers Cancel
    EXPECT_EQ(shownText(runButton), "Run & stay awake") << runButton.toStdString();

    int width = 0;
    bool boldTitle = false, iconsOnButtons = true, darkWindow = false;
    int textLines = 0;
    whenDialogShows(scheduler, [&](QWidget& alert) {
        width = alert.width();
        darkWindow = alert.palette().color(QPalette::Window) == dark::windowBackground();
        iconsOnButtons = false;
        for (const QPushButton* button : alert.findChildren<QPushButton*>()) {
            iconsOnButtons = iconsOnButtons || !button->icon().isNull();
        }
        for (const QLabel* label : alert.findChildren<QLabel*>()) {
            if (label->text() == "Enter a valid command") {
                boldTitle = label->font().bold();
            } else if (label->text().startsWith("Commands")) {
                textLines = label->height() / label->fontMetrics().lineSpacing();
            }
        }
        QTest::keyClick(&alert, Qt::Key_Return);
    });
    const AlertText& invalid = alertText(AlertKind::EnterValidCommand);
    showAlert(std::string(invalid.title), std::string(invalid.text));
    EXPECT_GE(width, 380);
    EXPECT_LE(width, 460);
    EXPECT_TRUE(boldTitle);
    EXPECT_EQ(textLines, 1);
    EXPECT_FALSE(iconsOnButtons);
    EXPECT_TRUE(darkWindow);

    QMenu menu;
    EXPECT_EQ(menu.palette().color(QPalette::Window), dark::windowBackground());
    EXPECT_EQ(menu.palette().color(QPalette::WindowText).lightness(), dark::label().lightness());
}

// The About window's links go to the application's opener; the desktop's workspace
// says so when no handler is installed, and hands the link to xdg-open where it is.
TEST_F(OnDesktop, LinksSayWhetherAHandlerOpenedThem) {
    std::vector<std::string> asked;
    AboutContentView about(Appearance::desktop(),
                           [&](const std::string& u) { asked.push_back(u); });
    for (const char* button : {"gitHubButton", "supportButton"}) {
        QTest::mouseClick(about.findChild<QPushButton*>(button), Qt::LeftButton);
    }
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_TRUE(asked[0].starts_with("https://") && asked[1].starts_with("mailto:"));

    const testing::TempFolder bin;
    const std::string path = ::getenv("PATH");
    ::setenv("PATH", bin.path().c_str(), 1);
    ::unsetenv("BROWSER");
    ::unsetenv("DEFAULT_BROWSER");
    EXPECT_FALSE(DesktopWorkspace().openURL(asked[0]));
    std::ofstream(bin / "xdg-open") << "#!/bin/sh\necho \"$1\" >> \"$0.log\"\n";
    ::chmod((bin / "xdg-open").c_str(), 0755);
    EXPECT_TRUE(DesktopWorkspace().openURL(asked[1]));
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_TRUE(
        e2e::waitUntil([&] { return e2e::readFile(bin / "xdg-open.log") == asked[1] + "\n"; }, 10));
}

// Where the host gives no icon geometry (Wayland), the panel opens at the pointer as a
// tray item's popup does, whole inside the screen's free area.
TEST_F(OnDesktop, WithoutAnIconGeometryThePanelOpensAtThePointerInsideTheScreen) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    for (const QPoint pointer : {QPoint(area.center().x(), 40), area.bottomRight()}) {
        auto* content = new QWidget;
        content->setFixedSize(340, 520);
        PanelPopup popup(content);
        QCursor::setPos(pointer);
        ASSERT_TRUE(spinUntil([&] { return QCursor::pos() == pointer; }, 10));
        popup.showAnchored(QRect());
        const QRect frame = popup.geometry();
        EXPECT_TRUE(area.contains(frame)) << frame.x() << "," << frame.y();
        EXPECT_LE(std::abs(frame.center().x() - pointer.x()), frame.width())
            << frame.x() << "," << frame.y();
        EXPECT_LE(
            std::min(std::abs(frame.top() - pointer.y()), std::abs(frame.bottom() - pointer.y())),
            16)
            << frame.x() << "," << frame.y();
    }
}

TEST_F(OnDesktop, ShortcutFiresWithAnyLockAndIsReleasedWithItsObject) {
    {
        X11HotKey hotKey;
        int presses = 0;
        ASSERT_TRUE(hotKey.registerShortcut([&] { ++presses; }));
        ASSERT_EQ(desktop.xdotool({"key", "ctrl+alt+super+space"}).status, 0);
        EXPECT_TRUE(spinUntil([&] { return presses == 1; }, 10));
        // Num Lock on: the same shortcut still reaches us.
        ASSERT_EQ(desktop.xdotool({"key", "Num_Lock", "ctrl+alt+super+space", "Num_Lock"}).status,
                  0);
        EXPECT_TRUE(spinUntil([&] { return presses == 2; }, 10));
        // Space with fewer modifiers is not the shortcut.
        ASSERT_EQ(desktop.xdotool({"key", "ctrl+alt+space"}).status, 0);
        spinUntil([] { return false; }, 0.5);
        EXPECT_EQ(presses, 2);
    }
    X11HotKey again; // the grab went with the object
    EXPECT_TRUE(again.registerShortcut([] {}));
}

} // namespace
} // namespace vesperon::gui
