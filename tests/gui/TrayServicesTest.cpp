// The desktop side of the application on a real X server: modal dialogs with the
// main-queue timer running underneath (a cross-thread post and a cancelled timer too),
// and the global shortcut's key grab.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <thread>

#include "DesktopSession.hpp"
#include "gui/tray/DialogWindows.hpp"
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

    // Escape answers Cancel; "&" reads as written, not as the mark of a mnemonic.
    QString runButton;
    whenDialogShows(scheduler, [&](QWidget& dialog) {
        if (auto* run = dialog.findChild<QPushButton*>(QStringLiteral("dialogButton0"))) {
            runButton = run->text();
        }
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(showDialog(Dialogs::runTask()).button, 1);
    EXPECT_EQ(runButton.replace("&&", "\x01").remove('&').replace('\x01', '&'), "Run & stay awake")
        << runButton.toStdString();

    // A post from another thread runs on this one; a cancelled timer stops.
    std::thread::id ranOn;
    std::thread([&] { scheduler.post([&] { ranOn = std::this_thread::get_id(); }); }).join();
    scheduler.cancel(timer);
    const int atCancel = ticks;
    EXPECT_TRUE(spinUntil([&] { return ranOn == std::this_thread::get_id(); }, 10));
    spinUntil([] { return false; }, 0.3);
    EXPECT_EQ(ticks, atCancel);
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
