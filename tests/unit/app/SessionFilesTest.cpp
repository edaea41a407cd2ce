#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include <plist/plist.h>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "app/AppWiring.hpp"
#include "app/LoginItem.hpp"
#include "app/SessionFolder.hpp"
#include "common/Uuid.hpp"

namespace vesperon {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempFolder;

TEST(SessionFolder, PrivateUuidFolderWithHeartbeatAndStopFiles) {
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
    EXPECT_NE(SessionFolder::create(temp.path())->path(), folder->path());

    const timespec aged[2] = {{0, UTIME_OMIT}, {1000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, folder->heartbeatPath().c_str(), aged, 0), 0);
    ASSERT_TRUE(folder->renewHeartbeat());
    ASSERT_EQ(::stat(folder->heartbeatPath().c_str(), &info), 0);
    EXPECT_GT(info.st_mtim.tv_sec, ::time(nullptr) - 60);
    std::ofstream(folder->stopPath()) << "left over";
    ASSERT_TRUE(folder->writeStop());
    EXPECT_EQ(fs::file_size(folder->stopPath()), 0u);

    fs::remove_all(folder->path());
    EXPECT_FALSE(folder->renewHeartbeat());
    EXPECT_FALSE(folder->writeStop());
    folder->remove(); // also when gone
    auto missing = SessionFolder::create(temp.path() + "/absent");
    ASSERT_FALSE(missing);
    EXPECT_FALSE(missing.error().message.empty());
}

TEST(LoginItem, AutostartEntryQuotesThePathAndLeavesNothingBehind) {
    TempFolder home;
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

    fs::remove_all(home.path() + "/.config/autostart");
    std::ofstream(home.path() + "/.config/autostart") << "a file where the folder belongs";
    EXPECT_FALSE(item.toggle());
    EXPECT_FALSE(item.enabled());
}

TEST(LoginItem, LaunchAgentHoldsExactlyTheThreeKeys) {
    TempFolder home;
    LoginItem item(home.path(), "/Applications/V.app/Contents/MacOS/V",
                   LoginItem::Format::LaunchAgent);
    EXPECT_EQ(item.path(), home.path() + "/Library/LaunchAgents/local.vesperon.app.plist");
    ASSERT_TRUE(item.toggle());
    const std::string xml = readFile(item.path());
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(plist_dict_get_size(root), 3u);
    auto text = [](plist_t node) {
        char* value = nullptr;
        plist_get_string_val(node, &value);
        std::string result = value ? value : "";
        std::free(value);
        return result;
    };
    EXPECT_EQ(text(plist_dict_get_item(root, "Label")), "local.vesperon.app");
    plist_t arguments = plist_dict_get_item(root, "ProgramArguments");
    ASSERT_EQ(plist_array_get_size(arguments), 1u);
    EXPECT_EQ(text(plist_array_get_item(arguments, 0)), "/Applications/V.app/Contents/MacOS/V");
    uint8_t runAtLoad = 0;
    plist_get_bool_val(plist_dict_get_item(root, "RunAtLoad"), &runAtLoad);
    EXPECT_EQ(runAtLoad, 1);
    plist_free(root);
}

TEST(AppWiring, EnvironmentOfThisProcess) {
    const AppEnvironment environment = currentAppEnvironment();
    EXPECT_EQ(environment.processId, ::getpid());
    EXPECT_TRUE(fs::equivalent(environment.executablePath, "/proc/self/exe"));
    EXPECT_TRUE(fs::is_directory(environment.temporaryDirectory));
}

} // namespace
} // namespace vesperon
