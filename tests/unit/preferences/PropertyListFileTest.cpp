#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "TestFiles.hpp"
#include "preferences/PropertyListFile.hpp"

namespace vesperon {
namespace {

using testing::readFile;
using testing::TempFolder;
using testing::writeBytes;

const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";

mode_t modeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

TEST(PropertyListFile, KeepsEveryValueWithItsType) {
    TempFolder folder;
    const std::string path = folder.file("preferences.plist");
    PropertyListFile store(path);
    EXPECT_EQ(store.value("missing").value(), std::nullopt);

    const PreferenceData blob{std::string("a\0b\xff<&>", 7)};
    ASSERT_TRUE(store.setValue("data", blob));
    ASSERT_TRUE(store.setValue("integer", std::int64_t{1800}));
    ASSERT_TRUE(store.setValue("real", 2.5));
    ASSERT_TRUE(store.setValue("flag", true));
    ASSERT_TRUE(store.setValue("text", std::string("été <&> \"x\"")));

    PropertyListFile reopened(path);
    EXPECT_EQ(reopened.value("data").value(), PreferenceValue(blob));
    EXPECT_EQ(reopened.value("integer").value(), PreferenceValue(std::int64_t{1800}));
    EXPECT_EQ(reopened.value("real").value(), PreferenceValue(2.5));
    EXPECT_EQ(reopened.value("flag").value(), PreferenceValue(true));
    EXPECT_EQ(reopened.value("text").value(), PreferenceValue(std::string("été <&> \"x\"")));
    EXPECT_EQ(modeOf(path), 0600);
}

TEST(PropertyListFile, CreatesPrivateFoldersAndLeavesNoTemporaryFile) {
    TempFolder folder;
    const std::string path = folder.file("config/vesperon/preferences.plist");
    PropertyListFile store(path);
    ASSERT_TRUE(store.setValue("flag", false));
    ASSERT_TRUE(store.setValue("flag", true));
    EXPECT_EQ(modeOf(folder.file("config")), 0700);
    EXPECT_EQ(modeOf(folder.file("config/vesperon")), 0700);
    EXPECT_EQ(modeOf(path), 0600);
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.file("config/vesperon"))) {
        EXPECT_EQ(entry.path().filename(), "preferences.plist");
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(PropertyListFile, WritingOneKeyKeepsKeysItCannotUse) {
    TempFolder folder;
    const std::string path = folder.file("preferences.plist");
    writeBytes(path, header + "<dict><key>when</key><date>2024-01-02T03:04:05Z</date>"
                              "<key>list</key><array><string>kept</string></array>"
                              "<key>negative</key><integer>-5</integer></dict></plist>");
    PropertyListFile store(path);
    EXPECT_EQ(store.value("when").value(), PreferenceValue(UnusablePreference{"date"}));
    EXPECT_EQ(store.value("negative").value(), PreferenceValue(std::int64_t{-5}));
    ASSERT_TRUE(store.setValue("flag", true));
    EXPECT_EQ(store.value("when").value(), PreferenceValue(UnusablePreference{"date"}));
    EXPECT_EQ(store.value("list").value(), PreferenceValue(UnusablePreference{"array"}));
    EXPECT_NE(readFile(path).find("<string>kept</string>"), std::string::npos);
    EXPECT_EQ(store.value("flag").value(), PreferenceValue(true));
}

TEST(PropertyListFile, RefusesValuesThatWouldNotReadBackAndLeavesTheFile) {
    TempFolder folder;
    const std::string path = folder.file("preferences.plist");
    PropertyListFile store(path);
    ASSERT_TRUE(store.setValue("flag", true));
    const std::string before = readFile(path);
    EXPECT_FALSE(store.setValue("text", std::string("a\0b", 3)));
    EXPECT_FALSE(store.setValue("text", std::string("\xc3\x28")));
    EXPECT_FALSE(store.setValue("integer", std::int64_t{-1}));
    EXPECT_FALSE(store.setValue("real", std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(store.setValue("other", UnusablePreference{"date"}));
    EXPECT_FALSE(store.setValue(std::string_view("k\0y", 3), true));
    // A value that would make the file larger than the reader accepts.
    EXPECT_FALSE(
        store.setValue("data", PreferenceData{std::string(PropertyListFile::maxFileBytes, 'x')}));
    EXPECT_EQ(readFile(path), before);
}

// Each case puts something in the file's place that is not a readable dictionary.
struct Damage {
    const char* name;
    void (*make)(const std::string& path);
};

const Damage damages[] = {
    {"garbage", [](const std::string& p) { writeBytes(p, "this is not a property list"); }},
    {"empty", [](const std::string& p) { writeBytes(p, ""); }},
    {"truncated",
     [](const std::string& p) {
         writeBytes(p, header + "<dict><key>Vesperon.urlAutomation.v1</key><true/>");
     }},
    {"array root",
     [](const std::string& p) { writeBytes(p, header + "<array><true/></array></plist>"); }},
    {"string root",
     [](const std::string& p) { writeBytes(p, header + "<string>x</string></plist>"); }},
    {"binary",
     [](const std::string& p) { writeBytes(p, std::string("bplist00\xd0\x08\0\0\0\0\0\0", 14)); }},
    {"deeply nested",
     [](const std::string& p) {
         std::string xml = header + "<dict><key>k</key>";
         for (int i = 0; i < 200'000; ++i) {
             xml += "<array>";
         }
         writeBytes(p, xml);
     }},
    {"too large",
     [](const std::string& p) {
         writeBytes(p, header + "<dict><key>k</key><string>" +
                           std::string(PropertyListFile::maxFileBytes, 'x') +
                           "</string></dict></plist>");
     }},
    {"directory", [](const std::string& p) { std::filesystem::create_directory(p); }},
    {"fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
    {"symbolic link",
     [](const std::string& p) {
         writeBytes(p + ".real", header + "<dict/></plist>");
         std::filesystem::create_symlink(p + ".real", p);
     }},
};

TEST(PropertyListFile, DamagedFileIsReportedAndNeverReplaced) {
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        TempFolder folder;
        const std::string path = folder.file("preferences.plist");
        damage.make(path);
        const auto typeBefore = std::filesystem::symlink_status(path).type();
        const std::string before =
            typeBefore == std::filesystem::file_type::regular ? readFile(path) : "";

        PropertyListFile store(path);
        const auto read = store.value("Vesperon.urlAutomation.v1");
        ASSERT_FALSE(read);
        EXPECT_EQ(read.error().domain, PropertyListFile::errorDomain);
        EXPECT_NE(read.error().message.find(path), std::string::npos) << read.error().message;
        EXPECT_FALSE(store.setValue("Vesperon.urlAutomation.v1", true));

        EXPECT_EQ(std::filesystem::symlink_status(path).type(), typeBefore);
        if (typeBefore == std::filesystem::file_type::regular) {
            EXPECT_EQ(readFile(path), before);
        }
        if (typeBefore == std::filesystem::file_type::symlink) {
            EXPECT_EQ(readFile(path + ".real"), header + "<dict/></plist>");
        }
    }
}

TEST(PropertyListFile, RefusesToWriteOverAFileDamagedSinceTheLastRead) {
    TempFolder folder;
    const std::string path = folder.file("preferences.plist");
    PropertyListFile store(path);
    ASSERT_TRUE(store.setValue("flag", true));
    const std::string damaged = readFile(path).substr(0, 80);
    writeBytes(path, damaged);
    EXPECT_FALSE(store.setValue("flag", false));
    EXPECT_EQ(readFile(path), damaged);
}

TEST(PropertyListFile, ReportsAFolderThatCannotBeCreated) {
    TempFolder folder;
    writeBytes(folder.file("blocker"), "a file where a folder should be");
    PropertyListFile store(folder.file("blocker/preferences.plist"));
    EXPECT_FALSE(store.setValue("flag", true));
    EXPECT_FALSE(PropertyListFile("relative.plist").setValue("flag", true));
}

} // namespace
} // namespace vesperon
