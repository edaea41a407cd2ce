// The desktop side of the application on a real X server: modal dialogs with the
// main-queue timer running underneath, and the global shortcut's key grab.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "DesktopSession.hpp"
#include "SandboxedMachine.hpp"
#include "gui/tray/DialogWindows.hpp"
#include "gui/tray/QtScheduler.hpp"
#include "gui/tray/X11HotKey.hpp"

namespace vesperon::gui {
namespace {

using e2e::DesktopSession;

class OnDesktop : public ::testing::Test {
  protected:
    DesktopSession desktop{DesktopSession::Parts{}};
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

TEST_F(OnDesktop, DialogsAnswerWithTheirButtonsWhileTheTimerKeepsFiring) {
    QtScheduler scheduler;
    int ticks = 0;
    scheduler.every(0.1, [&] { ++ticks; });

    // Save preset: the typed name and the default button (Return), after five more
    // ticks with the dialog open.
    QString shown;
    int ticksWhenShown = 0;
    whenDialogShows(scheduler, [&](QWidget& dialog) {
        ticksWhenShown = ticks;
        for (auto* label : dialog.findChildren<QLabel*>()) {
            shown += label->text() + "|";
        }
        for (int index = 0; index < 2; ++index) {
            auto* button = dialog.findChild<QPushButton*>(QString("dialogButton%1").arg(index));
            shown += button ? button->text() + (button->isDefault() ? "*|" : "|") : "none|";
        }
        QTest::keyClicks(dialog.focusWidget(), QStringLiteral("Nightly"));
        scheduler.after(0.5, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Return); });
    });
    const DialogAnswer saved = showDialog(Dialogs::savePreset());
    EXPECT_EQ(saved.button, 0);
    EXPECT_EQ(saved.text, "Nightly");
    EXPECT_TRUE(shown.startsWith("Save preset|")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("|Save*|Cancel|")) << shown.toStdString();
    EXPECT_GE(ticks - ticksWhenShown, 3);

    // Escape answers like Cancel.
    whenDialogShows(scheduler, [](QWidget& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
    EXPECT_EQ(showDialog(Dialogs::runTask()).button, 1);

    // The pop-up's selection comes back.
    whenDialogShows(scheduler, [](QWidget& dialog) {
        QTest::keyClick(dialog.focusWidget(), Qt::Key_Down);
        QTest::keyClick(&dialog, Qt::Key_Return);
    });
    const DialogAnswer chosen = showDialog(Dialogs::whatAreYouRunning());
    EXPECT_EQ(chosen.button, 0);
    EXPECT_EQ(chosen.selectedItem, 1);
}

TEST_F(OnDesktop, PostsFromOtherThreadsRunOnTheMainThreadAndCancelledTimersStop) {
    QtScheduler scheduler;
    std::atomic<bool> onMain{false}, ran{false};
    const auto mainThread = std::this_thread::get_id();
    std::thread([&] {
        scheduler.post([&] {
            onMain = std::this_thread::get_id() == mainThread;
            ran = true;
        });
    }).join();
    ASSERT_TRUE(spinUntil([&] { return ran.load(); }, 10));
    EXPECT_TRUE(onMain);

    int fired = 0;
    const auto timer = scheduler.every(0.05, [&] { ++fired; });
    ASSERT_TRUE(spinUntil([&] { return fired >= 2; }, 10));
    scheduler.cancel(timer);
    const int atCancel = fired;
    spinUntil([] { return false; }, 0.3);
    EXPECT_EQ(fired, atCancel);
}

TEST_F(OnDesktop, ShortcutFiresWithAnyLockAndIsUnavailableWhileAnotherClientHoldsIt) {
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
    } // released with the object

    e2e::BackgroundProcess holder({VESPERON_SHORTCUT_HOLDER}, {"DISPLAY=" + desktop.display()});
    X11HotKey late;
    ASSERT_TRUE(e2e::waitUntil(
        [&] {
            // The holder needs a moment to connect; until it holds, ours succeeds and is
            // dropped again.
            X11HotKey probe;
            return !probe.registerShortcut([] {});
        },
        30));
    EXPECT_FALSE(late.registerShortcut([] {}));
}

} // namespace
} // namespace vesperon::gui
