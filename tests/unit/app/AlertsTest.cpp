#include <gtest/gtest.h>

#include <set>

#include "app/Alerts.hpp"

namespace vesperon {
namespace {

TEST(Alerts, EveryKindHasItsOwnTitle) {
    std::set<std::string_view> titles;
    for (int kind = 0; kind <= static_cast<int>(AlertKind::AgentHooksAdded); ++kind) {
        const AlertText& text = alertText(static_cast<AlertKind>(kind));
        EXPECT_FALSE(text.title.empty()) << kind;
        EXPECT_TRUE(titles.insert(text.title).second) << text.title;
    }
    // The table is in the order of the kinds: a shifted row would swap these.
    EXPECT_EQ(alertText(AlertKind::SessionNeedsAttention).title, "A session needs attention");
    EXPECT_EQ(alertText(AlertKind::AgentHooksAdded).title, "Agent hooks added");
    EXPECT_EQ(alertText(AlertKind::EnterValidCommand).text,
              "Commands must be between 1 byte and 16 KB.");
}

TEST(Alerts, HooksAddedNamesTheFileWritten) {
    EXPECT_EQ(AlertDetail::agentHooksAdded("/home/u/.claude/settings.json"),
              "Saved to /home/u/.claude/settings.json. Restart the agent. For Codex, review and "
              "trust these hooks before relying on tracking. Start a short agent session to check "
              "that Working changes to Finished.");
}

TEST(Dialogs, ButtonsInOrderAndAccessoryControls) {
    const DialogRequest run = Dialogs::runTask();
    EXPECT_EQ(run.buttons, (std::vector<std::string>{"Run & stay awake", "Cancel"}));
    ASSERT_TRUE(run.textField);
    EXPECT_EQ(run.textField->placeholder, "e.g. /path/to/build.sh");
    EXPECT_EQ(run.textField->width, 420);

    const DialogRequest what = Dialogs::whatAreYouRunning();
    ASSERT_TRUE(what.popUp);
    EXPECT_EQ(what.popUp->items,
              (std::vector<std::string>{"Codex", "Claude Code", "OpenCode",
                                        "Terminal command or script", "Another app"}));
    EXPECT_EQ(what.popUp->accessibilityLabel, "Work to keep running");

    EXPECT_EQ(Dialogs::connectAgent("Claude Code").title, "Connect Claude Code");
    EXPECT_EQ(Dialogs::trustCodex().buttons,
              (std::vector<std::string>{"Open Terminal", "Check again", "Cancel"}));
    EXPECT_EQ(Dialogs::connectCodingAgent().buttons,
              (std::vector<std::string>{"Codex", "Claude Code", "OpenCode", "Cancel"}));
    EXPECT_EQ(Dialogs::deletePreset({"a", "b"}).popUp->items, (std::vector<std::string>{"a", "b"}));
}

} // namespace
} // namespace vesperon
