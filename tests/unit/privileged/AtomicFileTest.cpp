#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "FakeMachine.hpp"
#include "common/AtomicFile.hpp"

namespace vesperon {
namespace {

TEST(AtomicFile, ReplacesTheTargetWithItsAttributesAndLeavesNothingBehind) {
    test::TemporaryFolder folder;
    const std::string target = folder / "file";
    test::writeFile(target, "old contents that are longer");
    ASSERT_TRUE(writeFileAtomically(target, "new", FileAttributes{0640, 0, 0}));
    EXPECT_EQ(test::readFile(target), "new");
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // A symbolic link at the target is replaced, never written through.
    test::writeFile(folder / "victim", "keep");
    std::filesystem::remove(target);
    std::filesystem::create_symlink(folder / "victim", target);
    ASSERT_TRUE(writeFileAtomically(target, "mine"));
    EXPECT_EQ(test::readFile(folder / "victim"), "keep");
    EXPECT_EQ(test::readFile(target), "mine");
    EXPECT_FALSE(std::filesystem::is_symlink(target));

    // A target that cannot be replaced: an error, and no temporary file remains.
    std::filesystem::create_directory(folder / "dir");
    test::writeFile(folder / "dir/inside", "");
    EXPECT_FALSE(writeFileAtomically(folder / "dir", "x"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                            std::filesystem::directory_iterator()),
              3);
}

TEST(AtomicFile, CopiesAFileByteForByte) {
    test::TemporaryFolder folder;
    std::string bytes(300000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7919 % 251);
    }
    test::writeFile(folder / "source", bytes);
    ASSERT_TRUE(copyFileAtomically(folder / "source", folder / "copy", FileAttributes{0700, 0, 0}));
    EXPECT_EQ(test::readFile(folder / "copy"), bytes);
    struct stat info {};
    ASSERT_EQ(::stat((folder / "copy").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    const auto missing = copyFileAtomically(folder / "absent", folder / "copy2", {});
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().message.find("absent"), std::string::npos);
    EXPECT_FALSE(copyFileAtomically(folder.path(), folder / "copy3", {})); // not a file
    EXPECT_FALSE(std::filesystem::exists(folder / "copy2"));
}

} // namespace
} // namespace vesperon
