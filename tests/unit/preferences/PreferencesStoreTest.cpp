#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include "FileContents.hpp"
#include "TempFolder.hpp"
#include "preferences/PreferencesStore.hpp"
#include "preferences/PropertyListFile.hpp"

namespace vesperon {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::readFile;

std::string repeat(const std::string& unit, int times) {
    std::string text;
    while (times-- > 0) {
        text += unit;
    }
    return text;
}

json preset(const json& name, const json& seconds, std::string id = "") {
    return {{"id", id.empty() ? Uuid::random()->text() : id}, {"name", name}, {"seconds", seconds}};
}

json presetList(int count) {
    json list = json::array();
    for (int i = 0; i < count; ++i) {
        list.push_back(preset("Preset " + std::to_string(i), 60 * (i + 1)));
    }
    return list;
}

class PreferencesStoreTest : public ::testing::Test {
  protected:
    std::unique_ptr<PreferencesStore> open() const {
        return std::make_unique<PreferencesStore>(std::make_unique<PropertyListFile>(path));
    }
    void store(const char* key, const PreferenceValue& value) const {
        ASSERT_TRUE(PropertyListFile(path).setValue(key, value));
    }
    std::optional<PreferenceValue> stored(const char* key) const {
        return PropertyListFile(path).value(key).value();
    }

    testing::TempFolder folder;
    const std::string path = folder / "preferences.plist";
};

TEST_F(PreferencesStoreTest, SavesUpdatesByNameAndDeletesPresetsInOrder) {
    auto prefs = open();
    ASSERT_TRUE(prefs->savePreset("  Deep work\n", 5400));
    ASSERT_TRUE(prefs->savePreset("Build", 60));
    ASSERT_TRUE(prefs->savePreset("ÉTÉ", 86'400));
    const auto three = prefs->presets();
    const json list =
        json::parse(std::get<PreferenceData>(*stored(PreferencesStore::presetKey)).bytes);
    EXPECT_EQ(list[0],
              json({{"id", three[0].id.text()}, {"name", "Deep work"}, {"seconds", 5400}}));
    EXPECT_EQ(open()->presets(), three);

    // The same name ignoring case and composition (full case folding) updates in place.
    ASSERT_TRUE(prefs->savePreset("E\u0301TE\u0301", 1200));
    EXPECT_EQ(prefs->presets()[2], (SavedPreset{three[2].id, "E\u0301TE\u0301", 1200}));

    for (int i = 3; i < 8; ++i) {
        ASSERT_TRUE(prefs->savePreset("Preset " + std::to_string(i), 600));
    }
    const std::string eight = readFile(path);
    EXPECT_EQ(prefs->savePreset("Ninth", 600).error(), PreferencesError::LimitReached);
    EXPECT_EQ(readFile(path), eight);
    ASSERT_TRUE(prefs->savePreset(" PRESET 7 ", 7200)); // a full list still updates

    ASSERT_TRUE(prefs->deletePreset(three[1].id));
    ASSERT_TRUE(prefs->deletePreset(*Uuid::random())); // unknown: nothing to do
    ASSERT_EQ(prefs->presets().size(), 7u);
    EXPECT_EQ(prefs->presets()[1].id, three[2].id);
    EXPECT_EQ(prefs->presets()[6].seconds, 7200);
    EXPECT_EQ(open()->presets(), prefs->presets());
}

TEST_F(PreferencesStoreTest, RefusesBadNamesBeforeBadDurations) {
    auto prefs = open();
    for (const std::string name : {"", " \t\n\u00a0\u2003\u3000\u0085", "bad \xff utf-8"}) {
        EXPECT_EQ(prefs->savePreset(name, 10).error(), PreferencesError::InvalidName) << name;
    }
    EXPECT_EQ(prefs->savePreset("Short", 59).error(), PreferencesError::InvalidDuration);
    EXPECT_EQ(prefs->savePreset("Long", 86'401).error(), PreferencesError::InvalidDuration);
    EXPECT_FALSE(stored(PreferencesStore::presetKey));
    // Names are counted in user-perceived characters, and read back as saved.
    for (const std::string unit : {"a", "e\u0301\u0323", "\U0001F44D\U0001F3FD",
                                   "\U0001F468\u200D\U0001F469\u200D\U0001F467", "\u1100\u1161"}) {
        EXPECT_EQ(prefs->savePreset(repeat(unit, 31), 600).error(), PreferencesError::InvalidName);
        EXPECT_TRUE(prefs->savePreset(repeat(unit, 30), 600)) << unit;
    }
    EXPECT_EQ(open()->presets().size(), 5u);
}

TEST_F(PreferencesStoreTest, AcceptsAValidListWrittenElsewhereAndNeverWritesOverACorruptOne) {
    json list = presetList(8);
    list[0]["id"] = "0f8fad5b-d9cb-469f-a165-70867728950e";
    list[1]["extra"] = "ignored";
    store(PreferencesStore::presetKey, PreferenceData{list.dump()});
    ASSERT_EQ(open()->presets().size(), 8u);
    EXPECT_EQ(open()->presets()[0].id.text(), "0F8FAD5B-D9CB-469F-A165-70867728950E");

    auto data = [](const json& value) { return PreferenceValue(PreferenceData{value.dump()}); };
    const std::string id = Uuid::random()->text();
    const std::vector<std::pair<std::string, PreferenceValue>> corrupt = {
        {"malformed JSON", PreferenceData{"[{\"id\":"}},
        {"nine presets", data(presetList(9))},
        {"shared id", data({preset("A", 600, id), preset("B", 600, id)})},
        {"names differing in case", data({preset("Focus", 600), preset("FOCUS", 900)})},
        {"59 seconds", data({preset("A", 59)})},
    };
    for (const auto& [label, value] : corrupt) {
        SCOPED_TRACE(label);
        std::filesystem::remove(path);
        store(PreferencesStore::presetKey, value);
        const std::string before = readFile(path);
        auto prefs = open();
        EXPECT_TRUE(prefs->isCorrupt());
        EXPECT_TRUE(prefs->presets().empty());
        EXPECT_EQ(prefs->errorMessage(), describe(PreferencesError::CorruptStorage));
        EXPECT_EQ(prefs->savePreset("Fresh", 600).error(), PreferencesError::CorruptStorage);
        EXPECT_EQ(prefs->deletePreset(*Uuid::random()).error(), PreferencesError::CorruptStorage);
        EXPECT_EQ(readFile(path), before);
    }
}

// The file behind the store.
const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";

class PropertyListFileTest : public ::testing::Test {
  protected:
    void write(const std::string& bytes) const { std::ofstream(path, std::ios::binary) << bytes; }

    testing::TempFolder folder;
    std::string path = folder / "preferences.plist";
};

TEST_F(PropertyListFileTest, WritesAPrivateFileInPrivateFolders) {
    path = folder / "config/vesperon/preferences.plist";
    ASSERT_TRUE(PropertyListFile(path).setValue("flag", true));
    for (const auto& [file, mode] :
         {std::pair{folder / "config", 0700}, {folder / "config/vesperon", 0700}, {path, 0600}}) {
        EXPECT_EQ(testing::permissions(file), mode) << file;
    }
}

TEST_F(PropertyListFileTest, DamagedFileIsReportedAndNeverReplaced) {
    std::string nested = header + "<dict><key>k</key>";
    for (int i = 0; i < 100'000; ++i) { // within the size limit
        nested += "<array>";
    }
    // Contents, or a directory, a FIFO or a symbolic link in the file's place.
    const std::vector<std::pair<std::string, std::string>> damages = {
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
