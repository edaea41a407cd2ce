// The administrator prompt through the sandbox's osascript stand-in: real processes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "VirtualScheduler.hpp"
#include "app/OsascriptRequest.hpp"

namespace vesperon {
namespace {

namespace fs = std::filesystem;

struct Answer {
    int calls = 0;
    bool success = false;
    std::string text;
};

class OsascriptRequestTest : public ::testing::Test {
  protected:
    testing::TempFolder folder{"vesperon-osa"};
    const std::string root = folder.path(), osascript = root + "/usr/bin/osascript";
    testing::VirtualScheduler scheduler;

    void SetUp() override {
        fs::create_directories(root + "/usr/bin");
        fs::create_directories(root + "/machine");
        fs::copy_file(OSASCRIPT_STANDIN, osascript);
    }

    std::string helper(const std::string& body) {
        const std::string dir = root + "/it's a \"helper\" dir";
        fs::create_directories(dir);
        std::ofstream(dir + "/vesperon") << "#!/bin/sh\n" << body << "\n";
        fs::permissions(dir + "/vesperon", fs::perms::owner_all);
        return dir + "/vesperon";
    }

    // Runs one request and waits (in real time) for its answer on the main queue.
    Answer request(const std::string& executable, const std::vector<std::string>& arguments) {
        Answer answer;
        OsascriptRequest prompt(scheduler, osascript, executable);
        prompt.auth(arguments, [&](bool success, std::string text) {
            answer = {answer.calls + 1, success, std::move(text)};
        });
        EXPECT_EQ(answer.calls, 0); // never inside the call itself
        for (int i = 0; i < 4000 && answer.calls == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            scheduler.drain();
        }
        EXPECT_EQ(answer.calls, 1);
        return answer;
    }
};

TEST_F(OsascriptRequestTest, ArgumentsSurviveBothQuotingLayersUnchanged) {
    const std::string out = root + "/arguments";
    const std::string executable =
        helper("for a in \"$0\" \"$@\"; do printf '%s\\0' \"$a\"; done > '" + out + "'");
    const std::vector<std::string> arguments{"--setup",    "it's", "say \"hi\"", "back\\slash \\n",
                                             "line\nfeed", "",     "$HOME `x` *"};
    const Answer answer = request(executable, arguments);
    EXPECT_TRUE(answer.success) << answer.text;
    std::string expected = executable + '\0';
    for (const auto& argument : arguments) {
        expected += argument + '\0';
    }
    EXPECT_EQ(testing::readFile(out), expected);
}

TEST_F(OsascriptRequestTest, AnswerCarriesTheHelpersOutputOrTheFailure) {
    const std::vector<std::tuple<std::string, bool, std::string>> rows{
        {"echo 'A recovery job already exists.' >&2; exit 1", false,
         "A recovery job already exists."},
        {"exit 0", true, ""},
        {"printf 'READY\\377\\n'", true, ""}, // not UTF-8
        {"printf '\\300\\200'; exit 2", false, ""}};
    for (const auto& [body, success, text] : rows) {
        SCOPED_TRACE(body);
        const Answer answer = request(helper(body), {"--setup"});
        EXPECT_EQ(answer.success, success);
        EXPECT_TRUE(text.empty() ? answer.text.empty()
                                 : answer.text.find(text) != std::string::npos)
            << answer.text;
    }
}

TEST_F(OsascriptRequestTest, CancelledPromptOrMissingToolRunsNothing) {
    const std::string marker = root + "/ran";
    std::ofstream(root + "/machine/prompt") << "cancel\n";
    const Answer cancelled = request(helper("touch '" + marker + "'"), {"--restore"});
    EXPECT_FALSE(cancelled.success);
    EXPECT_NE(cancelled.text.find("User canceled."), std::string::npos);
    fs::remove(osascript);
    const Answer missing = request(helper("touch '" + marker + "'"), {"--restore"});
    EXPECT_FALSE(missing.success);
    EXPECT_FALSE(missing.text.empty());
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(OsascriptRequestTest, DestroyingTheRequestWaitsForTheChild) {
    Answer answer;
    const std::string marker = root + "/finished";
    {
        OsascriptRequest prompt(scheduler, osascript, helper("sleep 0.3; touch '" + marker + "'"));
        prompt.auth({"--restore"}, [&](bool success, std::string) { answer = {1, success, ""}; });
    }
    EXPECT_TRUE(fs::exists(marker));
    scheduler.drain();
    EXPECT_EQ(answer.calls, 1);
    EXPECT_TRUE(answer.success);
}

} // namespace
} // namespace vesperon
