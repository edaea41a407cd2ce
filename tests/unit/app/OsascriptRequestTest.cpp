#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "VirtualScheduler.hpp"
#include "platform/systemtools/OsascriptRequest.hpp"

namespace vesperon {
namespace {

namespace fs = std::filesystem;

TEST(OsascriptRequest, ArgumentsSurviveBothQuotingLayersAndTheAnswerComesOnTheMainQueue) {
    testing::TempFolder folder{"vesperon-osa"};
    const std::string root = folder.path(), osascript = root + "/usr/bin/osascript";
    const std::string helper = root + "/it's a \"helper\" dir/vesperon", marker = root + "/ran";
    fs::create_directories(root + "/usr/bin");
    fs::create_directories(root + "/machine");
    fs::copy_file(OSASCRIPT_STANDIN, osascript);
    testing::writeFile(helper,
                       "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '%s\\0' \"$a\"; done > '" +
                           marker + "'\n",
                       0700);
    const std::vector<std::string> arguments{"--setup",    "it's", "say \"hi\"", "back\\slash \\n",
                                             "line\nfeed", "",     "$HOME `x` *"};
    testing::VirtualScheduler scheduler;
    int calls = 0;
    bool success = false;
    OsascriptRequest prompt(scheduler, osascript, helper);
    prompt.auth(arguments, [&](bool ok, std::string) { success = ok, ++calls; });
    EXPECT_EQ(calls, 0); // never inside the call itself
    for (int i = 0; i < 4000 && calls == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        scheduler.drain();
    }
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(success);
    std::string expected = helper + '\0';
    for (const auto& argument : arguments) {
        expected += argument + '\0';
    }
    EXPECT_EQ(testing::readFile(marker), expected);
}

} // namespace
} // namespace vesperon
