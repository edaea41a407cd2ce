// The session panel view on Qt's offscreen platform, driven through QTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <cstdlib>
#include <map>

#include "gui/SessionPanelView.hpp"

namespace vesperon::testing {
namespace {

class ScriptedOwner final : public PanelOwner {
  public:
    std::vector<std::string> calls;
    PanelOwnerState state;

    PanelOwnerState panelState() const override { return state; }
    void storeLastDuration(int seconds) override {
        calls.push_back("store " + std::to_string(seconds));
    }
    void setFinishReason(FinishReason reason) override { calls.push_back(Finish{reason}.text()); }
    void start(int seconds) override { calls.push_back("start " + std::to_string(seconds)); }
    void stop() override { calls.push_back("stop"); }
    void restore() override { calls.push_back("restore"); }
    void runTask() override { calls.push_back("runTask"); }
    void watchAgents() override { calls.push_back("watchAgents"); }
};

template <typename T = QPushButton> T* part(QWidget& view, const char* name) {
    T* found = view.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

TEST(PanelView, ACustomTimeIsTypedCheckedStoredAndStarted) {
    ScriptedOwner owner;
    SessionPanel panel{&owner};
    gui::SessionPanelView view{panel, gui::Appearance::images()};
    view.show();
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    auto* hours = part<QLineEdit>(view, "hoursInput");
    auto* minutes = part<QLineEdit>(view, "minutesInput");
    auto* mainButton = part(view, "mainButton");
    const auto text = [&](const char* label) { return part<QLabel>(view, label)->text(); };
    const auto type = [](QLineEdit* input, const char* typed) { // over the whole text
        input->setFocus();
        input->selectAll();
        QTest::keyClicks(input, typed);
    };

    // Out of range: the error, and no button starts.
    type(minutes, "0");
    type(hours, "25");
    EXPECT_EQ(text("customError"), "Choose 1 minute to 24 hours.");
    EXPECT_FALSE(mainButton->isEnabled() || part(view, "taskButton")->isEnabled());

    type(minutes, "30");
    type(hours, "01");
    EXPECT_EQ(owner.calls.back(), "store 5400");
    EXPECT_EQ(text("clockLabel"), "1h 30m");
    view.refresh(); // the owner's tick does not rewrite what the user is typing
    EXPECT_EQ(hours->text(), "01");
    mainButton->setFocus();
    view.refresh();
    EXPECT_EQ(hours->text(), "1");
    mainButton->click();
    EXPECT_EQ(owner.calls.back(), "start 5400");
}

// The ring gives way around a state text wider than the ring is at its line, and a text
// too long for its label is cut short, whole in its tool tip.
TEST(PanelView, ALongStateTextIsClearOfTheRingOrCutShort) {
    ScriptedOwner owner;
    SessionPanel panel{&owner};
    gui::SessionPanelView view{panel, gui::Appearance::desktop()};
    owner.state.lastOutcome = "Agent tracking could not start · sleep restored";
    view.refresh();
    QImage image(view.size(), QImage::Format_RGB32);
    view.render(&image);
    const auto* stateLabel = part<QLabel>(view, "stateLabel");
    const QRect line = stateLabel->geometry();
    const QRect glyphs = QFontMetrics(stateLabel->font()).boundingRect(stateLabel->text());
    // Just above and below the text, where the stroke would run: the panel's background.
    for (const int y :
         {line.center().y() - glyphs.height() / 2 - 1, line.center().y() + glyphs.height() / 2}) {
        const int x = 170 - static_cast<int>(std::sqrt(76.0 * 76.0 - (147.0 - y) * (147.0 - y)));
        EXPECT_EQ(QColor(image.pixel(x, y)), gui::dark::windowBackground()) << x << "," << y;
    }

    owner.state.lastOutcome = std::string(200, 'W');
    view.refresh();
    EXPECT_TRUE(part<QLabel>(view, "stateLabel")->text().endsWith(QChar(0x2026)));
    EXPECT_EQ(part<QLabel>(view, "stateLabel")->toolTip().size(), 200);
}

// ctest runs this once per locale of the table, with LC_ALL set.
TEST(PanelView, TheEndTimeReadsInTheLocalesShortTimeStyle) {
    const std::map<std::string, QString> expected = {
        {"C", "Ends at 15:18"},
        {"C.UTF-8", "Ends at 15:18"},
        {"en_US.UTF-8", "Ends at 3:18 PM"},
        {"de_DE.UTF-8", "Ends at 15:18"},
    };
    const char* locale = std::getenv("LC_ALL");
    const auto wanted = expected.find(locale != nullptr ? locale : "");
    if (wanted == expected.end()) {
        GTEST_SKIP() << "run with LC_ALL set to a locale of the table";
    }
    ScriptedOwner owner;
    owner.state.end = std::chrono::system_clock::from_time_t(
        QDateTime(QDate::currentDate(), QTime(15, 18, 9)).toSecsSinceEpoch());
    owner.state.remainingSeconds = 600;
    SessionPanel panel{&owner};
    gui::SessionPanelView view{panel, gui::Appearance::images()};
    QString shown = part<QLabel>(view, "detailLabel")->text();
    shown.replace(QChar(0x202F), QLatin1Char(' ')); // newer locale data: a narrow space
    EXPECT_EQ(shown.toStdString(), wanted->second.toStdString()) << locale;
}

} // namespace
} // namespace vesperon::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen"); // also for the test discovery at build time
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
