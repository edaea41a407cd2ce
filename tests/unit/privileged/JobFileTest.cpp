#include <filesystem>
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/stat.h>

#include "FakeMachine.hpp"
#include "privileged/AtomicFile.hpp"
#include "privileged/JobFile.hpp"

namespace vesperon {
namespace {

struct Plist {
    plist_t node = nullptr;
    ~Plist() { plist_free(node); }
};

std::string stringValue(plist_t node) {
    EXPECT_EQ(plist_get_node_type(node), PLIST_STRING);
    char* text = nullptr;
    plist_get_string_val(node, &text);
    std::string value = text != nullptr ? text : "";
    free(text);
    return value;
}

bool booleanValue(plist_t node) {
    EXPECT_EQ(plist_get_node_type(node), PLIST_BOOLEAN);
    std::uint8_t value = 0;
    plist_get_bool_val(node, &value);
    return value != 0;
}

TEST(JobFile, HoldsExactlyTheFiveEntriesOfTheWatcherJob) {
    const SystemLayout layout = SystemLayout::macOS();
    const auto xml = jobFileXml(layout);
    ASSERT_TRUE(xml);
    EXPECT_TRUE(xml->starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));

    Plist job;
    plist_from_xml(xml->data(), static_cast<std::uint32_t>(xml->size()), &job.node);
    ASSERT_NE(job.node, nullptr);
    ASSERT_EQ(plist_get_node_type(job.node), PLIST_DICT);
    EXPECT_EQ(plist_dict_get_size(job.node), 5u);

    EXPECT_EQ(stringValue(plist_dict_get_item(job.node, "Label")), "local.vesperon.session");
    plist_t arguments = plist_dict_get_item(job.node, "ProgramArguments");
    ASSERT_EQ(plist_get_node_type(arguments), PLIST_ARRAY);
    ASSERT_EQ(plist_array_get_size(arguments), 2u);
    EXPECT_EQ(stringValue(plist_array_get_item(arguments, 0)),
              "/Library/Application Support/LocalVesperon/watcher");
    EXPECT_EQ(stringValue(plist_array_get_item(arguments, 1)), "--watch");
    EXPECT_TRUE(booleanValue(plist_dict_get_item(job.node, "RunAtLoad")));
    EXPECT_TRUE(booleanValue(plist_dict_get_item(job.node, "KeepAlive")));
    plist_t throttle = plist_dict_get_item(job.node, "ThrottleInterval");
    ASSERT_EQ(plist_get_node_type(throttle), PLIST_UINT);
    std::uint64_t seconds = 0;
    plist_get_uint_val(throttle, &seconds);
    EXPECT_EQ(seconds, 5u);
}

// The same job encoded by the property-list library.
std::string libraryEncoding(const SystemLayout& layout) {
    Plist job{plist_new_dict()};
    plist_dict_set_item(job.node, "Label", plist_new_string(layout.jobName.c_str()));
    plist_t arguments = plist_new_array();
    plist_array_append_item(arguments, plist_new_string(layout.watcherPath().c_str()));
    plist_array_append_item(arguments, plist_new_string("--watch"));
    plist_dict_set_item(job.node, "ProgramArguments", arguments);
    plist_dict_set_item(job.node, "RunAtLoad", plist_new_bool(1));
    plist_dict_set_item(job.node, "KeepAlive", plist_new_bool(1));
    plist_dict_set_item(job.node, "ThrottleInterval", plist_new_uint(5));
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(job.node, &xml, &length);
    std::string text(xml, length);
    plist_to_xml_free(xml);
    return text;
}

TEST(JobFile, MatchesThePropertyListLibraryByteForByteAndRefusesControlCharacters) {
    for (const std::string root :
         {"/tmp/plain", "/tmp/a&b <c> \"d\" 'e'\tf", "/tmp/\xc3\xa9t\xc3\xa9"}) {
        const SystemLayout layout = SystemLayout::sandbox(root);
        const auto xml = jobFileXml(layout);
        ASSERT_TRUE(xml) << root;
        EXPECT_EQ(*xml, libraryEncoding(layout)) << root;
    }
    EXPECT_FALSE(jobFileXml(SystemLayout::sandbox("/tmp/bell\x07")));
}

TEST(JobFile, IsWrittenReadableByAllAndOwnedByRoot) {
    const test::FakeMachine machine;
    const SystemLayout layout = machine.layout();
    ASSERT_TRUE(writeJobFile(layout));
    struct stat info {};
    ASSERT_EQ(::lstat(layout.jobPath.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(info.st_gid, 0u);
    const std::string text = test::readFile(layout.jobPath);
    EXPECT_EQ(text, *jobFileXml(layout));
    EXPECT_NE(text.find(layout.watcherPath()), std::string::npos);

    ::unlink(layout.jobPath.c_str());
    std::filesystem::remove_all(machine.root() + "/Library/LaunchDaemons");
    EXPECT_FALSE(writeJobFile(layout));
}

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
