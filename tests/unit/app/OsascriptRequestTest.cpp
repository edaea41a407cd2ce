// The administrator prompt through the sandbox's osascript stand-in: real processes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

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
    const std::string root = folder.path();
    std::string osascript;
    std::string helperDir;
    testing::VirtualScheduler scheduler;

    void SetUp() override {
        fs::create_directories(root + "/usr/bin");
        fs::create_directories(root + "/machine");
        osascript = root + "/usr/bin/osascript";
        fs::copy_file(OSASCRIPT_STANDIN, osascript);
        helperDir = root + "/it's a \"helper\" dir";
        fs::create_directories(helperDir);
    }

    std::string helper(const std::string& body) {
        const std::string path = helperDir + "/vesperon";
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(path, fs::perms::owner_all);
        return path;
    }

    // Runs one request and waits (in real time) for its answer on the main queue.
    Answer request(const std::string& executable, const std::vector<std::string>& arguments) {
        Answer answer;
        OsascriptRequest prompt(scheduler, osascript, executable);
        prompt.auth(arguments, [&](bool success, std::string text) {
            ++answer.calls;
            answer.success = success;
            answer.text = std::move(text);
        });
        EXPECT_EQ(answer.calls, 0); // never inside the call itself
        for (int i = 0; i < 1000 && answer.calls == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            scheduler.drain();
        }
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
    ASSERT_EQ(answer.calls, 1);
    EXPECT_TRUE(answer.success) << answer.text;
    std::ifstream in(out, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string expected = executable + '\0';
    for (const auto& argument : arguments) {
        expected += argument + '\0';
    }
    EXPECT_EQ(text.str(), expected);
}

TEST_F(OsascriptRequestTest, FailureCarriesBothStreamsOfTheHelper) {
    const Answer answer = request(
        helper("echo 'A sleep override or recovery job already exists.' >&2; exit 1"), {"--setup"});
    ASSERT_EQ(answer.calls, 1);
    EXPECT_FALSE(answer.success);
    EXPECT_NE(answer.text.find("A sleep override or recovery job already exists."),
              std::string::npos);
}

TEST_F(OsascriptRequestTest, SilentSuccessIsSuccessWithEmptyText) {
    const Answer answer = request(helper("exit 0"), {"--restore"});
    ASSERT_EQ(answer.calls, 1);
    EXPECT_TRUE(answer.success);
    EXPECT_EQ(answer.text, "");
}

TEST_F(OsascriptRequestTest, OutputThatIsNotUtf8BecomesEmptyText) {
    const Answer ok = request(helper("printf 'READY\\377\\n'"), {"--setup"});
    EXPECT_TRUE(ok.success);
    EXPECT_EQ(ok.text, "");
    const Answer failed = request(helper("printf '\\300\\200'; exit 2"), {"--setup"});
    EXPECT_FALSE(failed.success);
    EXPECT_EQ(failed.text, "");
}

TEST_F(OsascriptRequestTest, CancelledPromptRunsNothing) {
    std::ofstream(root + "/machine/prompt") << "cancel\n";
    const std::string marker = root + "/ran";
    const Answer answer = request(helper("touch '" + marker + "'"), {"--restore"});
    EXPECT_FALSE(answer.success);
    EXPECT_NE(answer.text.find("User canceled."), std::string::npos);
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(OsascriptRequestTest, MissingPromptToolIsAFailureDeliveredOnTheMainQueue) {
    fs::remove(osascript);
    const Answer answer = request(helper("exit 0"), {"--restore"});
    ASSERT_EQ(answer.calls, 1);
    EXPECT_FALSE(answer.success);
    EXPECT_FALSE(answer.text.empty());
}

TEST_F(OsascriptRequestTest, ScriptIsTheAdministratorShellScriptLine) {
    EXPECT_EQ(OsascriptRequest::script("/Applications/V.app/vesperon", {"--restore"}),
              "do shell script \"'/Applications/V.app/vesperon' '--restore'\" with administrator "
              "privileges");
    EXPECT_EQ(OsascriptRequest::script("/x", {"a'b", "c\"d\\e\nf"}),
              "do shell script \"'/x' 'a'\\\\''b' 'c\\\"d\\\\e\\nf'\" with administrator "
              "privileges");
}

TEST_F(OsascriptRequestTest, DestroyingTheRequestWaitsForTheChild) {
    Answer answer;
    const std::string marker = root + "/finished";
    {
        OsascriptRequest prompt(scheduler, osascript, helper("sleep 0.3; touch '" + marker + "'"));
        prompt.auth({"--restore"}, [&](bool success, std::string) {
            ++answer.calls;
            answer.success = success;
        });
    }
    EXPECT_TRUE(fs::exists(marker));
    scheduler.drain();
    EXPECT_EQ(answer.calls, 1);
    EXPECT_TRUE(answer.success);
}

} // namespace
} // namespace vesperon
