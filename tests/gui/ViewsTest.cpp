// The session panel and About views on Qt's offscreen platform: clicks and typing
// through QTest, the owner scripted (or, for the settings menu, the real controller
// on its scripted seams).
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include "AppScenario.hpp"
#include "TempFolder.hpp"
#include "app/SettingsMenu.hpp"
#include "gui/AboutContentView.hpp"
#include "gui/SessionPanelView.hpp"

namespace vesperon::testing {
namespace {

using gui::AboutContentView;
using gui::Appearance;
using gui::SessionPanelView;

class ScriptedOwner final : public PanelOwner {
  public:
    PanelOwnerState state;
    std::vector<int> stored;
    std::vector<std::string> calls;
    std::string finishReason;

    PanelOwnerState panelState() const override { return state; }
    void storeLastDuration(int seconds) override { stored.push_back(seconds); }
    void setFinishReason(std::string_view reason) override { finishReason = reason; }
    void start(int seconds) override { calls.push_back("start " + std::to_string(seconds)); }
    void stop() override { calls.push_back("stop"); }
    void restore() override { calls.push_back("restore"); }
    void runTask() override { calls.push_back("runTask"); }
    void watchAgents() override { calls.push_back("watchAgents"); }
};

template <typename T> T* part(QWidget& view, const char* name) {
    T* found = view.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

class PanelView : public ::testing::Test {
  protected:
    ScriptedOwner owner;
    SessionPanel panel{&owner};
    SessionPanelView view{panel, Appearance::images()};
    QLineEdit* hours = part<QLineEdit>(view, "hoursInput");
    QLineEdit* minutes = part<QLineEdit>(view, "minutesInput");
    QPushButton* mainButton = part<QPushButton>(view, "mainButton");

    void SetUp() override {
        view.show();
        view.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    }

    // Replaces the input's text by typing, as a user does.
    void type(QLineEdit* input, const QString& text) {
        input->setFocus();
        input->selectAll();
        QTest::keyClick(input, Qt::Key_Backspace);
        for (const QChar c : text) { // also characters that no key of a US layout makes
            QTest::sendKeyEvent(QTest::Click, input, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
    QPushButton* quick(int seconds) {
        return part<QPushButton>(view, ("duration" + std::to_string(seconds)).c_str());
    }
    QString text(const char* label) { return part<QLabel>(view, label)->text(); }
    std::vector<QPushButton*> quickButtons() {
        std::vector<QPushButton*> buttons;
        for (const int seconds : quickDurationSeconds) {
            buttons.push_back(quick(seconds));
        }
        return buttons;
    }
};

TEST_F(PanelView, TypingACustomTimeSelectsAndStoresIt) {
    type(hours, "1");
    type(minutes, "30");
    EXPECT_EQ(panel.selectedSeconds(), 5400);
    ASSERT_FALSE(owner.stored.empty());
    EXPECT_EQ(owner.stored.back(), 5400);
    for (QPushButton* button : quickButtons()) {
        EXPECT_FALSE(button->isChecked()) << button->text().toStdString();
    }
    EXPECT_EQ(text("clockLabel"), "1h 30m");
    mainButton->click();
    EXPECT_EQ(owner.calls, std::vector<std::string>{"start 5400"});
}

TEST_F(PanelView, InvalidEntriesShowTheErrorUntilAQuickDurationIsChosen) {
    const std::vector<std::pair<QString, QString>> invalid = {
        {"24", "30"}, {"0", "0"},  {"", "0"},
        {"1.5", "0"}, {"-1", "0"}, {QString(QChar(0x0661)), "0"}};
    for (const auto& [h, m] : invalid) {
        type(minutes, m);
        type(hours, h);
        const std::string entry = (h + " / " + m).toStdString();
        EXPECT_EQ(text("customError"), "Choose 1 minute to 24 hours.") << entry;
        EXPECT_FALSE(mainButton->isEnabled()) << entry;
        EXPECT_FALSE(part<QPushButton>(view, "taskButton")->isEnabled()) << entry;
        mainButton->click();
        EXPECT_TRUE(owner.calls.empty()) << entry;

        QTest::mouseClick(quick(1800), Qt::LeftButton);
        EXPECT_EQ(text("customError"), "") << entry;
        EXPECT_TRUE(mainButton->isEnabled()) << entry;
        EXPECT_TRUE(quick(1800)->isChecked());
        EXPECT_EQ(owner.stored.back(), 1800);
    }
}

TEST_F(PanelView, InputsAreNotRewrittenWhileTheUserTypes) {
    type(hours, "01");
    view.refresh(); // the owner's tick
    EXPECT_EQ(hours->text(), "01");
    mainButton->setFocus();
    view.refresh();
    EXPECT_EQ(hours->text(), "1");
    EXPECT_EQ(minutes->text(), "0");
}

TEST_F(PanelView, ARunningSessionHidesTheChoicesAndEndsManually) {
    owner.state.end = std::chrono::system_clock::now() + std::chrono::hours(1);
    owner.state.remainingSeconds = 1800;
    owner.state.statusLine = "Active — ready to close lid";
    view.refresh();
    for (QPushButton* button : quickButtons()) {
        EXPECT_TRUE(button->isHidden());
    }
    for (const char* name : {"hoursInput", "minutesInput", "customLabel", "taskButton"}) {
        EXPECT_TRUE(part<QWidget>(view, name)->isHidden()) << name;
    }
    EXPECT_EQ(text("clockLabel"), "30m");
    EXPECT_EQ(text("stateLabel"), "Ready to close lid");
    EXPECT_EQ(mainButton->text(), "End session");
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(owner.finishReason, "Ended manually");
    EXPECT_EQ(owner.calls, std::vector<std::string>{"stop"});
}

TEST_F(PanelView, RecoveryPendingBlocksStartingAndAFailedStopOffersRestore) {
    owner.state.rootStateExists = true;
    view.refresh();
    EXPECT_EQ(text("stateLabel"), "Recovery pending");
    EXPECT_FALSE(mainButton->isEnabled());
    for (QPushButton* button : quickButtons()) {
        EXPECT_FALSE(button->isEnabled());
    }

    owner.state.statusLine = "Stop request failed: the prompt was cancelled";
    view.refresh();
    EXPECT_EQ(mainButton->text(), "Restore sleep");
    ASSERT_TRUE(mainButton->isEnabled());
    mainButton->click();
    EXPECT_EQ(owner.calls, std::vector<std::string>{"restore"});
}

// The gear shows the controller's settings menu as it reads at that moment.
class PanelSettingsMenu : public AppScenario {};

TEST_F(PanelSettingsMenu, HoldsEveryCommandInOrderWithItsCheck) {
    make();
    app->toggleAutomation();
    SessionPanelView view(*app->panel(), Appearance::images());
    view.setMenuSource([this] { return settingsMenu(*app); });
    view.show();
    QTest::mouseClick(part<QPushButton>(view, "gearButton"), Qt::LeftButton);
    auto* menu = view.findChild<QMenu*>("settingsMenu");
    ASSERT_NE(menu, nullptr);

    std::vector<std::string> titles;
    std::vector<std::string> checked;
    QAction* about = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            continue;
        }
        titles.push_back(action->text().toStdString());
        if (action->isChecked()) {
            checked.push_back(titles.back());
        }
        if (action->text() == "About Vesperon") {
            about = action;
        }
    }
    EXPECT_EQ(titles, (std::vector<std::string>{
                          "Custom duration…", "Connect coding agents…", "Start another duration",
                          "Presets", "Toggle session  ⌃⌥⌘Space", "Allow URL automation",
                          "Session-ended alerts", "Open at login", "Restore normal sleep…",
                          "Contact support…", "About Vesperon", "Quit"}));
    ASSERT_TRUE(app->preferences().automationEnabled());
    EXPECT_EQ(checked, std::vector<std::string>{"Allow URL automation"});
    ASSERT_NE(about, nullptr);
    about->trigger();
    EXPECT_EQ(ui.aboutShown, 1);
}

class AboutView : public ::testing::Test {
  protected:
    AboutContentView view{Appearance::images()};

    void showAndActivate() {
        view.show();
        view.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    }
};

TEST_F(AboutView, EscapeDoneAndReturnCloseTheWindow) {
    ASSERT_NO_FATAL_FAILURE(showAndActivate());
    QTest::keyClick(&view, Qt::Key_Escape);
    EXPECT_FALSE(view.isVisible());

    ASSERT_NO_FATAL_FAILURE(showAndActivate());
    QTest::mouseClick(part<QPushButton>(view, "doneButton"), Qt::LeftButton);
    EXPECT_FALSE(view.isVisible());

    ASSERT_NO_FATAL_FAILURE(showAndActivate());
    int doneClicks = 0;
    QObject::connect(part<QPushButton>(view, "doneButton"), &QPushButton::clicked,
                     [&] { ++doneClicks; });
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(doneClicks, 1);
    EXPECT_FALSE(view.isVisible());
}

TEST_F(AboutView, WithoutTheIconFileTheAreaStaysEmptyAndTheLayoutHolds) {
    TempFolder noSymbols;
    Appearance appearance = Appearance::images();
    appearance.symbolFolder = QString::fromStdString(noSymbols.path());
    AboutContentView bare(appearance);
    EXPECT_FALSE(part<QLabel>(view, "appIcon")->pixmap().isNull());
    EXPECT_TRUE(part<QLabel>(bare, "appIcon")->pixmap().isNull());
    for (const char* name : {"appIcon", "titleLabel", "creditLabel", "doneButton"}) {
        EXPECT_EQ(part<QWidget>(bare, name)->geometry(), part<QWidget>(view, name)->geometry())
            << name;
    }
}

} // namespace
} // namespace vesperon::testing

// Qt's offscreen platform, whatever the environment says: no display is needed.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int qtArgc = 3;
    char name[] = "views-test";
    char option[] = "-platform";
    char platform[] = "offscreen";
    char* qtArgv[] = {name, option, platform, nullptr};
    QApplication application(qtArgc, qtArgv);
    return RUN_ALL_TESTS();
}
