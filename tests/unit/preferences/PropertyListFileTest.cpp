#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "preferences/PropertyListFile.hpp"

namespace vesperon {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";

class PropertyListFileTest : public ::testing::Test {
  protected:
    void write(const std::string& bytes) const { std::ofstream(path, std::ios::binary) << bytes; }

    testing::TempFolder folder;
    std::string path = folder / "preferences.plist";
};

TEST_F(PropertyListFileTest, KeepsEveryValueWithItsTypeInAPrivateFileAndKeysItCannotUse) {
    path = folder / "config/vesperon/preferences.plist";
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
    for (const auto& [key, value] : values) {
        EXPECT_EQ(PropertyListFile(path).value(key).value(), value) << key;
    }
    for (const auto& [file, mode] :
         {std::pair{folder / "config", 0700}, {folder / "config/vesperon", 0700}, {path, 0600}}) {
        struct stat info {};
        EXPECT_EQ(::lstat(file.c_str(), &info) == 0 ? info.st_mode & 07777 : 0u, mode) << file;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "config/vesperon"), {}), 1); // no temp

    // Writing one key keeps the keys of types it cannot use.
    write(header + "<dict><key>when</key><date>2024-01-02T03:04:05Z</date>"
                   "<key>list</key><array><string>kept</string></array></dict></plist>");
    ASSERT_TRUE(store.setValue("flag", true));
    EXPECT_EQ(store.value("when").value(), PreferenceValue(UnusablePreference{"date"}));
    EXPECT_EQ(store.value("list").value(), PreferenceValue(UnusablePreference{"array"}));
    EXPECT_NE(readFile(path).find("<string>kept</string>"), std::string::npos);
}

TEST_F(PropertyListFileTest, RefusesValuesThatWouldNotReadBackAndLeavesTheFile) {
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
    write(before.substr(0, 80));
    EXPECT_FALSE(store.setValue("flag", false));
    EXPECT_EQ(readFile(path), before.substr(0, 80));
    EXPECT_FALSE(PropertyListFile(path + "/preferences.plist").setValue("flag", true));
    EXPECT_FALSE(PropertyListFile("relative.plist").setValue("flag", true));
}

TEST_F(PropertyListFileTest, DamagedFileIsReportedAndNeverReplaced) {
    std::string nested = header + "<dict><key>k</key>";
    for (int i = 0; i < 100'000; ++i) { // within the size limit
        nested += "<array>";
    }
    // Contents, or a directory, a FIFO or a symbolic link in the file's place.
    const std::vector<std::pair<std::string, std::string>> damages = {
        {"garbage", "this is not a property list"},
        {"truncated", header + "<dict><key>Vesperon.urlAutomation.v1</key><true/>"},
        {"binary", std::string("bplist00\xd0\x08\0\0\0\0\0\0", 14)},
        {"deeply nested", nested},
        {"too large", header + "<dict><key>k</key><string>" +
                          std::string(PropertyListFile::maxFileBytes, 'x') + "</string></dict>"},
        {"directory", ""},
        {"fifo", ""},
        {"symbolic link", ""},
    };
    for (const auto& [name, contents] : damages) {
        SCOPED_TRACE(name);
        fs::remove_all(path);
        if (name == "directory") {
            fs::create_directory(path);
        } else if (name == "fifo") {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        } else if (name == "symbolic link") {
            std::ofstream(folder / "real") << header << "<dict/></plist>";
            fs::create_symlink(folder / "real", path);
        } else {
            write(contents);
        }
        const auto type = fs::symlink_status(path).type();
        PropertyListFile store(path);
        const auto read = store.value("Vesperon.urlAutomation.v1");
        ASSERT_FALSE(read);
        EXPECT_EQ(read.error().domain, PropertyListFile::errorDomain);
        EXPECT_NE(read.error().message.find(path), std::string::npos) << read.error().message;
        EXPECT_FALSE(store.setValue("Vesperon.urlAutomation.v1", true));
        EXPECT_EQ(fs::symlink_status(path).type(), type);
        EXPECT_EQ(type == fs::file_type::regular ? readFile(path) : contents, contents);
        EXPECT_EQ(readFile(folder / "real"),
                  name == "symbolic link" ? header + "<dict/></plist>" : "");
    }
}

} // namespace
} // namespace vesperon
