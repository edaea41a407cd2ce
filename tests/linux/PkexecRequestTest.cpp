#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TempFolder.hpp"
#include "VirtualScheduler.hpp"
#include "platform/PlatformWords.hpp"
#include "platform/linux/PkexecRequest.hpp"

namespace vesperon {
namespace {

// pkexec played by a shell script with one of its answers; an empty body means none.
std::pair<bool, std::string> ask(const std::string& body,
                                 const std::vector<std::string>& arguments = {"--restore"}) {
    testing::TempFolder folder;
    testing::VirtualScheduler queue;
    if (!body.empty()) {
        std::ofstream(folder / "pkexec") << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(folder / "pkexec", std::filesystem::perms::owner_all);
    }
    std::pair<bool, std::string> answer{false, "no answer"};
    {
        PkexecRequest request(queue, folder / "pkexec", "/usr/bin/vesperon");
        request.auth(arguments, [&](bool success, std::string text) { answer = {success, text}; });
    } // waits for the child
    queue.drain();
    return answer;
}

TEST(PkexecRequest, RunsTheExecutableWithTheArgumentsAsTheyAre) {
    EXPECT_EQ(
        ask(R"(for word in "$@"; do printf '[%s]' "$word"; done; echo)",
            {"--setup", "4242", "it's \"odd\"\n", "/a b"}),
        std::pair(true, std::string("[/usr/bin/vesperon][--setup][4242][it's \"odd\"\n][/a b]\n")));
}

TEST(PkexecRequest, FailuresAreToldApart) {
    EXPECT_EQ(ask("echo 'A sleep override or recovery job already exists.' >&2; exit 1"),
              std::pair(false, std::string("A sleep override or recovery job already exists.\n")));
    EXPECT_EQ(ask("exit 126"), std::pair(false, std::string("Authorization was cancelled.")));
    // pkexec's own words are replaced; any other reason it gave is kept.
    const auto [refused, refusal] =
        ask("echo 'Error executing command as another user: Not authorized' >&2; exit 127");
    EXPECT_TRUE(!refused && refusal.starts_with("Not authorized: an administrator's password"));
    EXPECT_EQ(refusal.find("Error executing"), std::string::npos);
    const auto noAgent = ask("echo 'No authentication agent found.' >&2; exit 127");
    EXPECT_NE(noAgent.second.find("No authentication agent found."), std::string::npos);
    const auto [opened, missing] = ask("");
    EXPECT_TRUE(!opened && missing.starts_with("The administrator prompt could not be opened"));
}

// Shared code shows these words; on Linux none of them may speak of a Mac.
TEST(LinuxWords, NameNoMac) {
    for (const std::string_view words :
         {platformWords::machine, platformWords::statusArea, platformWords::waitingForAuthorization,
          platformWords::cannotStartAdvice, platformWords::sleepSettingUnreadable}) {
        EXPECT_EQ(words.find("Mac"), std::string_view::npos) << words;
        EXPECT_EQ(words.find("macOS"), std::string_view::npos) << words;
    }
}

} // namespace
} // namespace vesperon
