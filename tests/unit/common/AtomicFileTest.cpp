#include <filesystem>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "common/AtomicFile.hpp"
#include "common/OwnedFd.hpp"

namespace vesperon::testing {
namespace {

mode_t modeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

std::ptrdiff_t entries(const std::string& folder) {
    return std::distance(std::filesystem::directory_iterator(folder), {});
}

TEST(AtomicFile, ReplacesTheTargetNeverWritingThroughALinkAndLeavesNothingBehind) {
    TempFolder folder;
    const std::string target = folder / "file";
    writeFile(folder / "victim", "keep");
    std::filesystem::create_symlink(folder / "victim", target);
    ASSERT_TRUE(writeFileAtomically(target, "new", FileAttributes{0640, ::getuid(), {}}));
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(modeOf(target), 0640u);
    EXPECT_EQ(readFile(folder / "victim"), "keep");
    // What cannot be written or copied is an error, and no temporary file remains.
    writeFile(folder / "dir/inside", "");
    EXPECT_FALSE(writeFileAtomically(folder / "dir", "x"));
    const auto missing = copyFileAtomically(folder / "absent", folder / "copy", {});
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().message.find("absent"), std::string::npos);
    EXPECT_EQ(entries(folder.path()), 3);
}

TEST(AtomicFile, WritesInAHeldFolderThroughANamedTemporaryFileThatMustBeNew) {
    TempFolder folder;
    std::filesystem::create_directory(folder / "held");
    const OwnedFd held(::open((folder / "held").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::filesystem::rename(folder / "held", folder / "moved"); // the descriptor follows it
    const AtomicWrite quick{std::nullopt, false, "event.tmp", {}};
    ASSERT_TRUE(writeFileAtomicallyAt(held.get(), "event.json", "{}", quick));
    EXPECT_EQ(readFile(folder / "moved/event.json"), "{}");
    EXPECT_EQ(modeOf(folder / "moved/event.json"), 0600u);
    // A temporary name already taken, here by a link, fails and is left as it is.
    std::filesystem::create_symlink(folder / "victim", folder / "moved/event.tmp");
    EXPECT_FALSE(writeFileAtomicallyAt(held.get(), "event.json", "new", quick));
    EXPECT_EQ(readFile(folder / "moved/event.json"), "{}");
    EXPECT_FALSE(pathExists(folder / "victim"));
    // A refusal just before the replace is the result, and the target does not appear.
    const AtomicWrite refused{FileAttributes{}, true, {}, [] { return fail("Test", "refused"); }};
    const auto written = writeFileAtomicallyAt(held.get(), "other", "x", refused);
    EXPECT_EQ(written ? "" : written.error().message, "refused");
    EXPECT_EQ(entries(folder / "moved"), 2);
}

} // namespace
} // namespace vesperon::testing
