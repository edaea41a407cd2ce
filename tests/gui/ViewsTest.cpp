// The session panel and About views on Qt's offscreen platform, driven through QTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <functional>

#include "AppScenario.hpp"
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
};

TEST_F(PanelView, TypingACustomTimeSelectsStoresAndStartsIt) {
    type(minutes, "30");
    type(hours, "01");
    EXPECT_EQ(panel.selectedSeconds(), 5400);
    ASSERT_FALSE(owner.stored.empty());
    EXPECT_EQ(owner.stored.back(), 5400);
    for (const int seconds : quickDurationSeconds) {
        EXPECT_FALSE(quick(seconds)->isChecked()) << seconds;
    }
    EXPECT_EQ(text("clockLabel"), "1h 30m");
    view.refresh(); // the owner's tick does not rewrite what the user is typing
    EXPECT_EQ(minutes->text(), "30");
    EXPECT_EQ(hours->text(), "01");
    mainButton->setFocus();
    view.refresh();
    EXPECT_EQ(hours->text(), "1");
    mainButton->click();
    EXPECT_EQ(owner.calls, std::vector<std::string>{"start 5400"});
}

TEST_F(PanelView, InvalidEntriesShowTheErrorUntilAQuickDurationIsChosen) {
    // Which entries are invalid is the model's; a digit no US key makes is typed too.
    const std::vector<std::pair<QString, QString>> invalid = {{"24", "30"}, {QChar(0x0661), "0"}};
    for (const auto& [h, m] : invalid) {
        const std::string entry = (h + " / " + m).toStdString();
        type(minutes, m);
        type(hours, h);
        EXPECT_EQ(text("customError"), "Choose 1 minute to 24 hours.") << entry;
        EXPECT_FALSE(mainButton->isEnabled()) << entry;
        EXPECT_FALSE(part<QPushButton>(view, "taskButton")->isEnabled()) << entry;
        mainButton->click();
        EXPECT_TRUE(owner.calls.empty()) << entry;

        QTest::mouseClick(quick(1800), Qt::LeftButton);
        EXPECT_EQ(text("customError"), "") << entry;
        EXPECT_TRUE(mainButton->isEnabled()) << entry;
        EXPECT_EQ(owner.stored.back(), 1800);
    }
}

TEST_F(PanelView, ARunningSessionEndsManuallyAndAFailedStopOffersRestore) {
    owner.state.end = std::chrono::system_clock::now() + std::chrono::hours(1);
    owner.state.remainingSeconds = 1800;
    owner.state.statusLine = "Active — ready to close lid";
    view.refresh();
    for (const char* name : {"duration1800", "hoursInput", "minutesInput", "taskButton"}) {
        EXPECT_TRUE(part<QWidget>(view, name)->isHidden()) << name;
    }
    EXPECT_EQ(text("clockLabel"), "30m");
    EXPECT_EQ(text("stateLabel"), "Ready to close lid");
    EXPECT_EQ(mainButton->text(), "End session");
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(owner.finishReason, "Ended manually");
    EXPECT_EQ(owner.calls, std::vector<std::string>{"stop"});

    owner.state = PanelOwnerState{};
    owner.state.rootStateExists = true;
    view.refresh();
    EXPECT_EQ(text("stateLabel"), "Recovery pending");
    EXPECT_FALSE(mainButton->isEnabled());
    EXPECT_FALSE(quick(1800)->isEnabled());
    owner.state.statusLine = "Stop request failed: the prompt was cancelled";
    view.refresh();
    EXPECT_EQ(mainButton->text(), "Restore sleep");
    mainButton->click();
    EXPECT_EQ(owner.calls, (std::vector<std::string>{"stop", "restore"}));
}

// The gear shows the controller's settings menu as it reads at that moment.
class PanelSettingsMenu : public AppScenario {};

TEST_F(PanelSettingsMenu, ShowsEveryCommandWithItsCheckAndRunsIt) {
    make();
    app->toggleAutomation();
    SessionPanelView view(*app->panel(), Appearance::images());
    view.setMenuSource([this] { return settingsMenu(*app); });
    view.show();
    QTest::mouseClick(part<QPushButton>(view, "gearButton"), Qt::LeftButton);
    auto* menu = view.findChild<QMenu*>("settingsMenu");
    ASSERT_NE(menu, nullptr);
    std::vector<std::string> titles; // checked ones marked with a "+"
    for (QAction* action : menu->actions()) {
        titles.push_back(action->text().toStdString() + (action->isChecked() ? "+" : ""));
    }
    ASSERT_EQ(titles.size(), 13u);
    EXPECT_EQ(titles[4], ""); // the separator
    EXPECT_EQ(titles[6], "Allow URL automation+");
    EXPECT_EQ(titles[7], "Session-ended alerts");
    menu->actions()[11]->trigger();
    EXPECT_EQ(ui.aboutShown, 1);
}

TEST(AboutView, EscapeDoneAndReturnCloseTheWindow) {
    AboutContentView view{Appearance::images()};
    int doneClicks = 0;
    QObject::connect(part<QPushButton>(view, "doneButton"), &QPushButton::clicked,
                     [&] { ++doneClicks; });
    const std::vector<std::function<void()>> closers = {
        [&] { QTest::keyClick(&view, Qt::Key_Escape); },
        [&] { QTest::mouseClick(part<QPushButton>(view, "doneButton"), Qt::LeftButton); },
        [&] { QTest::keyClick(&view, Qt::Key_Return); },
    };
    for (std::size_t i = 0; i < closers.size(); ++i) {
        view.show();
        view.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
        closers[i]();
        EXPECT_FALSE(view.isVisible()) << i;
    }
    EXPECT_EQ(doneClicks, 2); // Return is the Done button
}

} // namespace
} // namespace vesperon::testing

// Qt's offscreen platform, whatever the environment says: no display is needed.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
