// The session folder and the login item: real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "app/LoginItem.hpp"
#include "app/SessionFolder.hpp"
#include "common/Uuid.hpp"

namespace vesperon {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

TEST(SessionFolder, PrivateAndUniqueWhateverTheUmask) {
    testing::TempFolder temp;
    const mode_t old = ::umask(0);
    auto folder = SessionFolder::create(temp.path() + "/");
    ::umask(old);
    ASSERT_TRUE(folder) << folder.error().message;
    const std::string name = fs::path(folder->path()).filename().string();
    ASSERT_EQ(name.rfind("Vesperon-", 0), 0u);
    EXPECT_TRUE(Uuid::isValidText(name.substr(9)));
    EXPECT_EQ(fs::status(folder->path()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::file_size(folder->heartbeatPath()), 0u);
    EXPECT_NE(SessionFolder::create(temp.path())->path(), folder->path());
    std::ofstream(folder->stopPath()) << "left over";
    ASSERT_TRUE(folder->writeStop());
    EXPECT_EQ(fs::file_size(folder->stopPath()), 0u);
}

TEST(LoginItem, AutostartEntryForThePathAndNothingElse) {
    testing::TempFolder home;
    LoginItem item(home.path(), "/tmp/a b\"c$d`e\\f%g");
    EXPECT_EQ(item.path(), home.path() + "/.config/autostart/local.vesperon.app.desktop");
    ASSERT_TRUE(item.toggle());
    EXPECT_TRUE(item.enabled());
    const std::string text = readFile(item.path());
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=\"/tmp/a b\\\\\"c\\\\$d\\\\`e\\\\\\\\f%%g\"\n"), std::string::npos)
        << text;
    ASSERT_TRUE(item.toggle());
    EXPECT_FALSE(item.enabled());
    EXPECT_TRUE(fs::is_empty(fs::path(item.path()).parent_path())); // no temporary files
}

} // namespace
} // namespace vesperon
