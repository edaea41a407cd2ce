#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>

#include <plist/plist.h>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "app/LoginItem.hpp"
#include "app/SessionFolder.hpp"
#include "common/Uuid.hpp"

namespace vesperon {
namespace {

namespace fs = std::filesystem;

using testing::TempFolder;

using testing::readFile;

TEST(SessionFolder, PrivateFolderNamedWithUuidHoldingAnEmptyHeartbeat) {
    TempFolder temp;
    const mode_t old = ::umask(0);
    auto folder = SessionFolder::create(temp.path() + "/");
    ::umask(old);
    ASSERT_TRUE(folder) << folder.error().message;
    const std::string name = fs::path(folder->path()).filename().string();
    ASSERT_EQ(name.rfind("Vesperon-", 0), 0u);
    EXPECT_TRUE(Uuid::isValidText(name.substr(9)));
    EXPECT_EQ(fs::path(folder->path()).parent_path(), fs::path(temp.path()));

    struct stat info {};
    ASSERT_EQ(::stat(folder->path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(fs::file_size(folder->heartbeatPath()), 0u);
    EXPECT_FALSE(fs::exists(folder->stopPath()));

    // Two attempts never share a folder.
    auto second = SessionFolder::create(temp.path());
    ASSERT_TRUE(second);
    EXPECT_NE(second->path(), folder->path());
}

TEST(SessionFolder, HeartbeatRenewalMovesTheModificationDateAndFailsWhenGone) {
    TempFolder temp;
    auto folder = SessionFolder::create(temp.path());
    ASSERT_TRUE(folder);
    const timespec old[2] = {{0, UTIME_OMIT}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, folder->heartbeatPath().c_str(), old, 0), 0);
    ASSERT_TRUE(folder->renewHeartbeat());
    struct stat info {};
    ASSERT_EQ(::stat(folder->heartbeatPath().c_str(), &info), 0);
    EXPECT_GT(info.st_mtim.tv_sec, ::time(nullptr) - 60);

    fs::remove_all(folder->path());
    EXPECT_FALSE(folder->renewHeartbeat());
    EXPECT_FALSE(folder->writeStop());
}

TEST(SessionFolder, StopFileIsWrittenEmptyAndReplacesAnEarlierOne) {
    TempFolder temp;
    auto folder = SessionFolder::create(temp.path());
    ASSERT_TRUE(folder);
    std::ofstream(folder->stopPath()) << "left over";
    ASSERT_TRUE(folder->writeStop());
    EXPECT_EQ(fs::file_size(folder->stopPath()), 0u);
    folder->remove();
    EXPECT_FALSE(fs::exists(folder->path()));
    folder->remove(); // twice is harmless
}

TEST(SessionFolder, MissingOrUnwritableParentIsAnErrorWithADescription) {
    TempFolder temp;
    auto missing = SessionFolder::create(temp.path() + "/absent");
    ASSERT_FALSE(missing);
    EXPECT_FALSE(missing.error().message.empty());
    if (::geteuid() != 0) { // root ignores permission bits
        fs::permissions(temp.path(), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(SessionFolder::create(temp.path()));
    }
}

TEST(LoginItem, ToggleCreatesThenRemovesTheAutostartEntry) {
    TempFolder home;
    LoginItem item(home.path(), "/opt/Vesper on/bin/vesperon");
    EXPECT_EQ(item.path(), home.path() + "/.config/autostart/local.vesperon.app.desktop");
    EXPECT_FALSE(item.enabled());
    ASSERT_TRUE(item.toggle());
    EXPECT_TRUE(item.enabled());
    const std::string text = readFile(item.path());
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=\"/opt/Vesper on/bin/vesperon\"\n"), std::string::npos);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    ASSERT_TRUE(item.toggle());
    EXPECT_FALSE(item.enabled());
    EXPECT_FALSE(fs::exists(item.path()));
    // Nothing else is left behind in the folder (no temporary files).
    EXPECT_TRUE(fs::is_empty(fs::path(item.path()).parent_path()));
}

TEST(LoginItem, ExecKeyQuotesAwkwardPaths) {
    TempFolder home;
    LoginItem item(home.path(), "/tmp/a\"b$c`d\\e%f");
    EXPECT_NE(item.contents().find("\nExec=\"/tmp/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e%%f\"\n"),
              std::string::npos)
        << item.contents();
}

TEST(LoginItem, LaunchAgentHoldsExactlyTheThreeKeys) {
    TempFolder home;
    LoginItem item(home.path(), "/Applications/Vesperon.app/Contents/MacOS/Vesperon",
                   LoginItem::Format::LaunchAgent);
    EXPECT_EQ(item.path(), home.path() + "/Library/LaunchAgents/local.vesperon.app.plist");
    ASSERT_TRUE(item.toggle());
    const std::string xml = readFile(item.path());
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(plist_dict_get_size(root), 3u);
    char* label = nullptr;
    plist_get_string_val(plist_dict_get_item(root, "Label"), &label);
    EXPECT_STREQ(label, "local.vesperon.app");
    std::free(label);
    plist_t arguments = plist_dict_get_item(root, "ProgramArguments");
    ASSERT_EQ(plist_array_get_size(arguments), 1u);
    char* program = nullptr;
    plist_get_string_val(plist_array_get_item(arguments, 0), &program);
    EXPECT_STREQ(program, "/Applications/Vesperon.app/Contents/MacOS/Vesperon");
    std::free(program);
    uint8_t runAtLoad = 0;
    plist_get_bool_val(plist_dict_get_item(root, "RunAtLoad"), &runAtLoad);
    EXPECT_EQ(runAtLoad, 1);
    plist_free(root);
}

TEST(LoginItem, UnwritableFolderIsReportedAndTheSwitchStaysOff) {
    TempFolder home;
    fs::create_directories(home.path() + "/.config");
    std::ofstream(home.path() + "/.config/autostart") << "a file where the folder belongs";
    LoginItem item(home.path(), "/usr/bin/vesperon");
    auto result = item.toggle();
    ASSERT_FALSE(result);
    EXPECT_FALSE(result.error().message.empty());
    EXPECT_FALSE(item.enabled());
}

} // namespace
} // namespace vesperon
