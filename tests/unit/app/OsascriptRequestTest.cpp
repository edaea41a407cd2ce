// The administrator prompt through the sandbox's osascript stand-in: real processes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "VirtualScheduler.hpp"
#include "platform/systemtools/OsascriptRequest.hpp"

namespace vesperon {
namespace {

namespace fs = std::filesystem;

class OsascriptRequestTest : public ::testing::Test {
  protected:
    testing::TempFolder folder{"vesperon-osa"};
    const std::string root = folder.path(), osascript = root + "/usr/bin/osascript";
    const std::string dir = root + "/it's a \"helper\" dir", marker = root + "/ran";
    testing::VirtualScheduler scheduler;

    void SetUp() override {
        fs::create_directories(root + "/usr/bin");
        fs::create_directories(root + "/machine");
        fs::create_directories(dir);
        fs::copy_file(OSASCRIPT_STANDIN, osascript);
    }
    std::string helper(const std::string& body) {
        std::ofstream(dir + "/vesperon") << "#!/bin/sh\n" << body << "\n";
        fs::permissions(dir + "/vesperon", fs::perms::owner_all);
        return dir + "/vesperon";
    }
    // Runs one request and waits (in real time) for its one answer on the main queue.
    std::pair<bool, std::string> request(const std::string& body,
                                         const std::vector<std::string>& arguments) {
        int calls = 0;
        std::pair<bool, std::string> answer;
        OsascriptRequest prompt(scheduler, osascript, helper(body));
        prompt.auth(arguments, [&](bool success, std::string text) {
            answer = {success, std::move(text)}, ++calls;
        });
        EXPECT_EQ(calls, 0); // never inside the call itself
        for (int i = 0; i < 4000 && calls == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            scheduler.drain();
        }
        EXPECT_EQ(calls, 1);
        return answer;
    }
};

TEST_F(OsascriptRequestTest, ArgumentsSurviveBothQuotingLayersAndTheChildOutlivesNoRequest) {
    const std::vector<std::string> arguments{"--setup",    "it's", "say \"hi\"", "back\\slash \\n",
                                             "line\nfeed", "",     "$HOME `x` *"};
    const auto [ok, text] = request(
        "for a in \"$0\" \"$@\"; do printf '%s\\0' \"$a\"; done > '" + marker + "'", arguments);
    EXPECT_TRUE(ok) << text;
    std::string expected = dir + "/vesperon" + '\0';
    for (const auto& argument : arguments) {
        expected += argument + '\0';
    }
    EXPECT_EQ(testing::readFile(marker), expected);

    bool answered = false; // destroying the request waits for its child, whose answer comes
    fs::remove(marker);
    {
        OsascriptRequest prompt(scheduler, osascript, helper("sleep 0.3; touch '" + marker + "'"));
        prompt.auth({"--restore"}, [&](bool success, std::string) { answered = success; });
    }
    EXPECT_TRUE(fs::exists(marker));
    scheduler.drain();
    EXPECT_TRUE(answered);
}

// A cancelled prompt or a missing tool runs nothing.
TEST_F(OsascriptRequestTest, AnswerCarriesTheHelpersOutputOrTheFailure) {
    const std::string touch = "touch '" + marker + "'";
    const std::vector<std::tuple<std::string, std::string, bool, std::string>> rows{
        {"grant", "echo 'A recovery job already exists.' >&2; exit 1", false,
         "A recovery job already exists."},
        {"grant", "printf '\\300\\200'; exit 2", false, ""}, // not UTF-8
        {"cancel", touch, false, "User canceled."},
        {"", touch, false, "?"}}; // no osascript at all
    for (const auto& [prompt, body, success, text] : rows) {
        SCOPED_TRACE(body);
        std::ofstream(root + "/machine/prompt") << prompt << "\n";
        if (prompt.empty()) {
            fs::remove(osascript);
        }
        const auto answer = request(body, {"--setup"});
        EXPECT_EQ(answer.first, success);
        EXPECT_TRUE(text == "?"    ? !answer.second.empty()
                    : text.empty() ? answer.second.empty()
                                   : answer.second.find(text) != std::string::npos)
            << answer.second;
    }
    EXPECT_FALSE(fs::exists(marker));
}

} // namespace
} // namespace vesperon
