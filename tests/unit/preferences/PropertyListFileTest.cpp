#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "preferences/PropertyListFile.hpp"

namespace vesperon {
namespace {

using testing::readFile;
using testing::TempFolder;

const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(PropertyListFile, KeepsEveryValueWithItsTypeInAPrivateFile) {
    TempFolder folder;
    const std::string path = folder.file("config/vesperon/preferences.plist");
    PropertyListFile store(path);
    EXPECT_EQ(store.value("missing").value(), std::nullopt);
    const std::vector<std::pair<const char*, PreferenceValue>> values = {
        {"data", PreferenceData{std::string("a\0b\xff<&>", 7)}},
        {"integer", std::int64_t{1800}},
        {"real", 2.5},
        {"flag", true},
        {"text", std::string("été <&> \"x\"")},
    };
    for (const auto& [key, value] : values) {
        ASSERT_TRUE(store.setValue(key, value)) << key;
    }
    PropertyListFile reopened(path);
    for (const auto& [key, value] : values) {
        EXPECT_EQ(reopened.value(key).value(), value) << key;
    }
    for (const auto& [file, mode] :
         {std::pair{folder / "config", 0700}, {folder / "config/vesperon", 0700}, {path, 0600}}) {
        struct stat info {};
        EXPECT_EQ(::lstat(file.c_str(), &info) == 0 ? info.st_mode & 07777 : 0u, mode) << file;
    }
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.file("config/vesperon")),
                            std::filesystem::directory_iterator()),
              1);
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

    // Nor over a file damaged since the last read, nor where no folder can be made.
    const std::string damaged = before.substr(0, 80);
    writeBytes(path, damaged);
    EXPECT_FALSE(store.setValue("flag", false));
    EXPECT_EQ(readFile(path), damaged);
    EXPECT_FALSE(PropertyListFile(path + "/preferences.plist").setValue("flag", true));
    EXPECT_FALSE(PropertyListFile("relative.plist").setValue("flag", true));
}

TEST(PropertyListFile, DamagedFileIsReportedAndNeverReplaced) {
    std::string nested = header + "<dict><key>k</key>";
    for (int i = 0; i < 100'000; ++i) { // within the size limit
        nested += "<array>";
    }
    const std::string large = header + "<dict><key>k</key><string>" +
                              std::string(PropertyListFile::maxFileBytes, 'x') +
                              "</string></dict></plist>";
    // Contents, or a directory, a FIFO or a symbolic link in the file's place.
    const std::vector<std::pair<std::string, std::string>> damages = {
        {"garbage", "this is not a property list"},
        {"empty", ""},
        {"truncated", header + "<dict><key>Vesperon.urlAutomation.v1</key><true/>"},
        {"array root", header + "<array><true/></array></plist>"},
        {"binary", std::string("bplist00\xd0\x08\0\0\0\0\0\0", 14)},
        {"deeply nested", nested},
        {"too large", large},
        {"directory", ""},
        {"fifo", ""},
        {"symbolic link", ""},
    };
    for (const auto& [name, contents] : damages) {
        SCOPED_TRACE(name);
        TempFolder folder;
        const std::string path = folder.file("preferences.plist");
        if (name == "directory") {
            std::filesystem::create_directory(path);
        } else if (name == "fifo") {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        } else if (name == "symbolic link") {
            writeBytes(path + ".real", header + "<dict/></plist>");
            std::filesystem::create_symlink(path + ".real", path);
        } else {
            writeBytes(path, contents);
        }
        const auto type = std::filesystem::symlink_status(path).type();

        PropertyListFile store(path);
        const auto read = store.value("Vesperon.urlAutomation.v1");
        ASSERT_FALSE(read);
        EXPECT_EQ(read.error().domain, PropertyListFile::errorDomain);
        EXPECT_NE(read.error().message.find(path), std::string::npos) << read.error().message;
        EXPECT_FALSE(store.setValue("Vesperon.urlAutomation.v1", true));
        EXPECT_EQ(std::filesystem::symlink_status(path).type(), type);
        if (type == std::filesystem::file_type::regular) {
            EXPECT_EQ(readFile(path), contents);
        }
        if (type == std::filesystem::file_type::symlink) {
            EXPECT_EQ(readFile(path + ".real"), header + "<dict/></plist>");
        }
    }
}

} // namespace
} // namespace vesperon
