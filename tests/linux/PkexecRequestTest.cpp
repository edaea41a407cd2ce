#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TempFolder.hpp"
#include "VirtualScheduler.hpp"
#include "app/AdminPrompt.hpp"
#include "app/PkexecRequest.hpp"

namespace vesperon {
namespace {

// A stand-in for pkexec: a shell script that plays one of pkexec's answers.
class PkexecRequestTest : public ::testing::Test {
  protected:
    std::string standIn(const std::string& body) {
        const std::string path = folder / "pkexec";
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }

    std::pair<bool, std::string> ask(const std::string& pkexec,
                                     const std::vector<std::string>& arguments) {
        std::optional<std::pair<bool, std::string>> answer;
        {
            PkexecRequest request(queue, pkexec, "/usr/bin/vesperon");
            request.auth(arguments, [&](bool success, std::string text) {
                answer.emplace(success, std::move(text));
            });
        } // waits for the child
        queue.drain();
        EXPECT_TRUE(answer.has_value());
        return answer.value_or(std::pair{false, "no answer"});
    }

    testing::TempFolder folder;
    testing::VirtualScheduler queue;
};

TEST_F(PkexecRequestTest, RunsTheExecutableWithTheArgumentsAsTheyAre) {
    const auto pkexec =
        standIn(R"(for word in "$@"; do printf '[%s]' "$word"; done; echo; exit 0)");
    const auto [success, text] = ask(pkexec, {"--setup", "4242", "it's \"odd\"\n", "/a b"});
    EXPECT_TRUE(success);
    EXPECT_EQ(text, "[/usr/bin/vesperon][--setup][4242][it's \"odd\"\n][/a b]\n");
}

TEST_F(PkexecRequestTest, TheHelpersFailureReachesTheUserVerbatim) {
    const auto pkexec =
        standIn("echo 'A sleep override or recovery job already exists.' >&2; exit 1");
    EXPECT_EQ(ask(pkexec, {"--setup"}),
              std::pair(false, std::string("A sleep override or recovery job already exists.\n")));
}

TEST_F(PkexecRequestTest, ADismissedPromptAndARefusalAreToldApart) {
    EXPECT_EQ(ask(standIn("exit 126"), {"--restore"}),
              std::pair(false, std::string("Authorization was cancelled.")));
    const auto refused = ask(standIn("echo 'Error executing command as another user: Not "
                                     "authorized' >&2; exit 127"),
                             {"--restore"});
    EXPECT_FALSE(refused.first);
    EXPECT_TRUE(refused.second.starts_with("Not authorized: an administrator's password"));
    EXPECT_EQ(refused.second.find("Error executing"), std::string::npos);
    // Without pkexec's own words the reason it gave is kept.
    const auto noAgent = ask(standIn("echo 'No authentication agent found.' >&2; exit 127"), {});
    EXPECT_NE(noAgent.second.find("No authentication agent found."), std::string::npos);
}

TEST_F(PkexecRequestTest, TheLinuxPromptIsPkexec) {
    EXPECT_NE(dynamic_cast<PkexecRequest*>(makeAdminPrompt(queue, "/usr/bin/vesperon").get()),
              nullptr);
}

TEST_F(PkexecRequestTest, AMissingPkexecIsAFailureWithAReason) {
    const auto [success, text] = ask(folder / "absent", {"--restore"});
    EXPECT_FALSE(success);
    EXPECT_TRUE(text.starts_with("The administrator prompt could not be opened"));
}

} // namespace
} // namespace vesperon
