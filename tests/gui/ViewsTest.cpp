// The session panel view on Qt's offscreen platform, driven through QTest.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "gui/SessionPanelView.hpp"

namespace vesperon::testing {
namespace {

// Records what the panel asks of its owner, in order.
class ScriptedOwner final : public PanelOwner {
  public:
    std::vector<std::string> calls;

    PanelOwnerState panelState() const override { return {}; }
    void storeLastDuration(int seconds) override { record("store", seconds); }
    void setFinishReason(std::string_view reason) override { calls.emplace_back(reason); }
    void start(int seconds) override { record("start", seconds); }
    void stop() override { calls.push_back("stop"); }
    void restore() override { calls.push_back("restore"); }
    void runTask() override { calls.push_back("runTask"); }
    void watchAgents() override { calls.push_back("watchAgents"); }
    void record(const char* what, int seconds) {
        calls.push_back(what + (" " + std::to_string(seconds)));
    }
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
    // Replaces the input's text by typing, as a user does, also characters that no key
    // of a US layout makes.
    const auto type = [](QLineEdit* input, const QString& typed) {
        input->setFocus();
        input->selectAll();
        QTest::keyClick(input, Qt::Key_Backspace);
        for (const QChar c : typed) {
            QTest::sendKeyEvent(QTest::Click, input, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    };

    // Out of range: the error, and nothing starts.
    type(hours, QChar(0x0661));
    type(minutes, "0");
    EXPECT_EQ(text("customError"), "Choose 1 minute to 24 hours.");
    EXPECT_FALSE(mainButton->isEnabled());
    EXPECT_FALSE(part(view, "taskButton")->isEnabled());
    mainButton->click();
    EXPECT_TRUE(owner.calls.empty());
    QTest::mouseClick(part(view, "duration1800"), Qt::LeftButton); // a quick duration clears it
    EXPECT_EQ(text("customError"), "");
    EXPECT_EQ(owner.calls, std::vector<std::string>{"store 1800"});

    type(minutes, "30");
    type(hours, "01");
    EXPECT_EQ(owner.calls.back(), "store 5400");
    EXPECT_FALSE(part(view, "duration1800")->isChecked());
    EXPECT_EQ(text("clockLabel"), "1h 30m");
    view.refresh(); // the owner's tick does not rewrite what the user is typing
    EXPECT_EQ(hours->text(), "01");
    mainButton->setFocus();
    view.refresh();
    EXPECT_EQ(hours->text(), "1");
    mainButton->click();
    EXPECT_EQ(owner.calls.back(), "start 5400");
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
