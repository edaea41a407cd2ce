#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "StandInRootTools.hpp"
#include "common/AtomicFile.hpp"

namespace vesperon::testing {
namespace {

TEST(AtomicFile, ReplacesTheTargetNeverWritingThroughALinkAndLeavesNothingBehind) {
    TemporaryFolder folder;
    const std::string target = folder / "file";
    const auto mode = [&] {
        struct stat info {};
        return ::stat(target.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
    };
    writeFile(folder / "victim", "keep");
    std::filesystem::create_symlink(folder / "victim", target);
    ASSERT_TRUE(writeFileAtomically(target, "new", FileAttributes{0640, 0, 0}));
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(mode(), 0640u);
    EXPECT_EQ(readFile(folder / "victim"), "keep");
    std::string bytes(300000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7919 % 251);
    }
    writeFile(folder / "source", bytes);
    ASSERT_TRUE(copyFileAtomically(folder / "source", target, FileAttributes{0700, 0, 0}));
    EXPECT_TRUE(readFile(target) == bytes);
    EXPECT_EQ(mode(), 0700u);
    // What cannot be written or copied is an error, and no temporary file remains.
    writeFile(folder / "dir/inside", "");
    EXPECT_FALSE(writeFileAtomically(folder / "dir", "x"));
    const auto missing = copyFileAtomically(folder / "absent", folder / "copy", {});
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().message.find("absent"), std::string::npos);
    EXPECT_FALSE(copyFileAtomically(folder.path(), folder / "copy", {})); // not a file
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 4);
}

} // namespace
} // namespace vesperon::testing
