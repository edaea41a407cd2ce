#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "TempFolder.hpp"
#include "app/SessionFolder.hpp"

namespace vesperon {
namespace {

namespace fs = std::filesystem;

TEST(SessionFolder, PrivateAndUniqueWhateverTheUmask) {
    testing::TempFolder temp;
    const mode_t old = ::umask(0);
    auto folder = SessionFolder::create(temp.path() + "/");
    ::umask(old);
    ASSERT_TRUE(folder) << folder.error().message;
    EXPECT_EQ(fs::status(folder->path()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::file_size(folder->heartbeatPath()), 0u);
    EXPECT_NE(SessionFolder::create(temp.path())->path(), folder->path());
    std::ofstream(folder->stopPath()) << "left over";
    ASSERT_TRUE(folder->writeStop());
    EXPECT_EQ(fs::file_size(folder->stopPath()), 0u);
}

} // namespace
} // namespace vesperon
