// The application's desktop side on a real X server: modal dialogs over the running main
// queue's timer, the global shortcut's key grab, the tray image.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <cstdlib>

#include "DesktopSession.hpp"
#include "gui/tray/DialogWindows.hpp"
#include "gui/tray/QtScheduler.hpp"
#include "gui/tray/TrayIconImage.hpp"
#include "gui/tray/X11HotKey.hpp"

namespace vesperon::gui {
namespace {

class OnDesktop : public ::testing::Test {
  protected:
    e2e::DesktopSession desktop{false};
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

TEST_F(OnDesktop, DialogsAnswerWhileTheTimerKeepsFiring) {
    QtScheduler scheduler;
    int ticks = 0;
    (void)scheduler.every(0.1, [&] { ++ticks; });

    // Save preset: the typed name and Return, after a few more ticks with the dialog open.
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

// The rows (top, bottom) holding ink within columns [from, to) of `image`.
std::pair<int, int> inkRows(const QImage& image, int from, int to) {
    int top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = from; x < to; ++x) {
            if (qAlpha(image.pixel(x, y)) > 128) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return {top, bottom};
}

// Where the tray shows no title, its leading unit stands in place of the moon.
TEST_F(OnDesktop, TheLeadingUnitOfTheTitleStandsInPlaceOfTheMoonAtReadableSize) {
    const struct {
        const char* title;
        const char* shortForm;
    } cases[] = {{" 5m", "5m"}, {" 45m", "45m"},     {" 1h 5m", "1h"},
                 {" 2h", "2h"}, {" 23h 59m", "23h"}, {" 24h", "24h"}};
    const Appearance appearance = Appearance::desktop();
    const QImage moon = statusImage(appearance, 22, QString(), Qt::black);
    ASSERT_GT(inkRows(moon, 0, 22).second, 0) << "the idle image shows the moon";
    for (const auto& c : cases) {
        EXPECT_EQ(leadingUnit(c.title), QString::fromLatin1(c.shortForm)) << c.title;
        for (const int pixels : {22, 32}) {
            const QImage image = statusImage(appearance, pixels, leadingUnit(c.title), Qt::black);
            ASSERT_EQ(image.size(), QSize(pixels, pixels));
            EXPECT_NE(image, moon) << c.title;
            // The digits on the left stand at least 60 % of the height; the unit on the right.
            const auto [top, bottom] = inkRows(image, 0, pixels * 6 / 10);
            EXPECT_GE(bottom - top + 1, 0.6 * pixels) << c.title << " at " << pixels;
            EXPECT_GE(inkRows(image, pixels * 3 / 4, pixels).second, 0) << c.title;
        }
    }
    EXPECT_EQ(leadingUnit(""), QString());
}

} // namespace
} // namespace vesperon::gui
