#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "TestFiles.hpp"
#include "preferences/PreferencesStore.hpp"
#include "preferences/PropertyListFile.hpp"

namespace vesperon {
namespace {

using testing::readFile;
using testing::TempFolder;
using testing::writeBytes;

std::string repeat(const std::string& unit, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += unit;
    }
    return text;
}

nlohmann::json preset(const std::string& name, std::int64_t seconds, std::string id = "") {
    if (id.empty()) {
        id = Uuid::random()->text();
    }
    return {{"id", id}, {"name", name}, {"seconds", seconds}};
}

nlohmann::json presetList(int count) {
    nlohmann::json list = nlohmann::json::array();
    for (int i = 0; i < count; ++i) {
        list.push_back(preset("Preset " + std::to_string(i), 60 * (i + 1)));
    }
    return list;
}

class PreferencesStoreTest : public ::testing::Test {
  protected:
    std::string path() const { return folder_.file("preferences.plist"); }
    std::unique_ptr<PreferencesStore> open() const {
        return std::make_unique<PreferencesStore>(std::make_unique<PropertyListFile>(path()));
    }
    void store(const char* key, const PreferenceValue& value) const {
        ASSERT_TRUE(PropertyListFile(path()).setValue(key, value));
    }
    void storeList(const nlohmann::json& list) const {
        store(PreferencesStore::presetKey, PreferenceData{list.dump()});
    }
    std::optional<PreferenceValue> stored(const char* key) const {
        return PropertyListFile(path()).value(key).value();
    }
    nlohmann::json storedList() const {
        const auto value = stored(PreferencesStore::presetKey);
        return nlohmann::json::parse(std::get<PreferenceData>(*value).bytes);
    }

    TempFolder folder_;
};

TEST_F(PreferencesStoreTest, EmptyStoreSavesAndReloadsPresetsInOrder) {
    auto prefs = open();
    EXPECT_TRUE(prefs->presets().empty());
    EXPECT_FALSE(prefs->isCorrupt());
    EXPECT_FALSE(prefs->errorMessage());
    EXPECT_FALSE(stored(PreferencesStore::presetKey));

    ASSERT_TRUE(prefs->savePreset("  Deep work\n", 5400));
    ASSERT_TRUE(prefs->savePreset("Build", 60));
    ASSERT_TRUE(prefs->savePreset("Overnight", 86'400));
    ASSERT_EQ(prefs->presets().size(), 3u);
    EXPECT_EQ(prefs->presets()[0].name, "Deep work");
    EXPECT_EQ(prefs->presets()[0].seconds, 5400);

    const nlohmann::json list = storedList();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]["id"], prefs->presets()[0].id.text());
    EXPECT_EQ(list[0]["id"].get<std::string>().size(), 36u);
    EXPECT_EQ(list[2]["seconds"], 86'400);
    EXPECT_NE(prefs->presets()[0].id, prefs->presets()[1].id);

    EXPECT_EQ(open()->presets(), prefs->presets());
}

TEST_F(PreferencesStoreTest, RefusesBadNamesBeforeBadDurations) {
    auto prefs = open();
    EXPECT_EQ(prefs->savePreset("", 10).error(), PreferencesError::invalidName);
    EXPECT_EQ(prefs->savePreset(" \t\n\u00a0\u2003\u3000\u0085", 600).error(),
              PreferencesError::invalidName);
    EXPECT_EQ(prefs->savePreset("bad \xff utf-8", 600).error(), PreferencesError::invalidName);
    EXPECT_EQ(prefs->savePreset("Short", 59).error(), PreferencesError::invalidDuration);
    EXPECT_EQ(prefs->savePreset("Long", 86'401).error(), PreferencesError::invalidDuration);
    EXPECT_TRUE(prefs->presets().empty());
    EXPECT_FALSE(stored(PreferencesStore::presetKey));
    EXPECT_EQ(describe(PreferencesError::invalidName),
              "Give the preset a name of 1\u201330 characters.");
}

TEST_F(PreferencesStoreTest, CountsNamesInUserPerceivedCharacters) {
    const std::vector<std::pair<const char*, std::string>> units = {
        {"letters", "a"},
        {"combining accents", "e\u0301\u0323"},
        {"emoji with skin tone", "\U0001F44D\U0001F3FD"},
        {"flags", "\U0001F1EB\U0001F1F7"},
        {"family ZWJ sequence", "\U0001F468\u200D\U0001F469\u200D\U0001F467"},
        {"Hangul jamo", "\u1100\u1161\u11A8"},
    };
    for (const auto& [label, unit] : units) {
        SCOPED_TRACE(label);
        TempFolder own;
        PreferencesStore prefs(std::make_unique<PropertyListFile>(own.file("p.plist")));
        EXPECT_EQ(prefs.savePreset(repeat(unit, 31), 600).error(), PreferencesError::invalidName);
        ASSERT_TRUE(prefs.savePreset(repeat(unit, 30), 600));
        EXPECT_EQ(prefs.presets().at(0).name, repeat(unit, 30));
        // And the stored list with that name is accepted when read back.
        PreferencesStore reopened(std::make_unique<PropertyListFile>(own.file("p.plist")));
        EXPECT_FALSE(reopened.isCorrupt());
        EXPECT_EQ(reopened.presets().size(), 1u);
    }
}

TEST_F(PreferencesStoreTest, DuplicatesDifferInCaseOnlyNotInAccents) {
    auto prefs = open();
    ASSERT_TRUE(prefs->savePreset("ÉTÉ", 600));
    const Uuid first = prefs->presets()[0].id;
    ASSERT_TRUE(prefs->savePreset("été", 1200));
    ASSERT_EQ(prefs->presets().size(), 1u);
    EXPECT_EQ(prefs->presets()[0], (SavedPreset{first, "été", 1200}));

    ASSERT_TRUE(prefs->savePreset("ete", 60));
    EXPECT_EQ(prefs->presets().size(), 2u);
    // A decomposed accent is the same letter as the composed one.
    ASSERT_TRUE(prefs->savePreset("E\u0301TE\u0301", 300));
    EXPECT_EQ(prefs->presets().size(), 2u);
    EXPECT_EQ(prefs->presets()[0].seconds, 300);
    // Full case folding: "STRASSE" and "straße" are one name.
    ASSERT_TRUE(prefs->savePreset("straße", 60));
    ASSERT_TRUE(prefs->savePreset("STRASSE", 120));
    EXPECT_EQ(prefs->presets().size(), 3u);
    EXPECT_EQ(prefs->presets()[2].name, "STRASSE");
}

TEST_F(PreferencesStoreTest, EightPresetsAtMostButSameNameUpdatesInPlace) {
    auto prefs = open();
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(prefs->savePreset("Preset " + std::to_string(i), 60 * (i + 1)));
    }
    const auto eight = prefs->presets();
    const std::string before = readFile(path());
    EXPECT_EQ(prefs->savePreset("Ninth", 600).error(), PreferencesError::limitReached);
    EXPECT_EQ(prefs->presets(), eight);
    EXPECT_EQ(readFile(path()), before);

    ASSERT_TRUE(prefs->savePreset(" PRESET 3 ", 7200));
    ASSERT_EQ(prefs->presets().size(), 8u);
    EXPECT_EQ(prefs->presets()[3], (SavedPreset{eight[3].id, "PRESET 3", 7200}));
    EXPECT_EQ(open()->presets(), prefs->presets());
}

TEST_F(PreferencesStoreTest, DeletesByIdAndAcceptsUnknownIds) {
    auto prefs = open();
    ASSERT_TRUE(prefs->savePreset("A", 60));
    ASSERT_TRUE(prefs->savePreset("B", 120));
    ASSERT_TRUE(prefs->savePreset("C", 180));
    const auto all = prefs->presets();
    ASSERT_TRUE(prefs->deletePreset(all[1].id));
    EXPECT_EQ(prefs->presets(), (std::vector{all[0], all[2]}));
    EXPECT_EQ(open()->presets(), prefs->presets());

    ASSERT_TRUE(prefs->deletePreset(*Uuid::random()));
    EXPECT_EQ(prefs->presets(), (std::vector{all[0], all[2]}));
    EXPECT_EQ(storedList().size(), 2u);
}

TEST_F(PreferencesStoreTest, AcceptsAValidStoredListWrittenElsewhere) {
    nlohmann::json list = presetList(8);
    list[0]["id"] = "0f8fad5b-d9cb-469f-a165-70867728950e"; // lower case is read too
    list[1]["extra"] = "members beyond the three are ignored";
    list[2]["name"] = repeat("\U0001F1EB\U0001F1F7", 30);
    storeList(list);
    auto prefs = open();
    EXPECT_FALSE(prefs->isCorrupt());
    ASSERT_EQ(prefs->presets().size(), 8u);
    EXPECT_EQ(prefs->presets()[0].id.text(), "0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_EQ(prefs->presets()[7].seconds, 480);
}

// Stored preset values that make the whole list unusable.
std::vector<std::pair<std::string, PreferenceValue>> corruptValues() {
    auto data = [](const nlohmann::json& json) {
        return PreferenceValue(PreferenceData{json.dump()});
    };
    auto withName = [&](const std::string& name) { return data({preset(name, 600)}); };
    const std::string sharedId = Uuid::random()->text();
    std::string nested;
    for (int i = 0; i < 100; ++i) {
        nested += "[";
    }
    return {
        {"a string", PreferenceValue(std::string("[]"))},
        {"a number", PreferenceValue(std::int64_t{5})},
        {"a boolean", PreferenceValue(true)},
        {"malformed JSON", PreferenceValue(PreferenceData{"[{\"id\":"})},
        {"not UTF-8", PreferenceValue(PreferenceData{"[\"\xff\"]"})},
        {"deeply nested", PreferenceValue(PreferenceData{nested})},
        {"an object", data(nlohmann::json::object())},
        {"an array of numbers", data({1, 2})},
        {"nine presets", data(presetList(9))},
        {"shared id", data({preset("A", 600, sharedId), preset("B", 600, sharedId)})},
        {"shared id in other case",
         data({preset("A", 600, "0f8fad5b-d9cb-469f-a165-70867728950e"),
               preset("B", 600, "0F8FAD5B-D9CB-469F-A165-70867728950E")})},
        {"names differing in case", data({preset("Focus", 600), preset("FOCUS", 900)})},
        {"leading blank", withName(" Focus")},
        {"trailing newline", withName("Focus\n")},
        {"trailing no-break space", withName("Focus\u00a0")},
        {"empty name", withName("")},
        {"31 characters", withName(std::string(31, 'x'))},
        {"59 seconds", data({preset("A", 59)})},
        {"86,401 seconds", data({preset("A", 86'401)})},
        {"negative seconds", data({preset("A", -600)})},
        {"fractional seconds", data({{{"id", sharedId}, {"name", "A"}, {"seconds", 600.0}}})},
        {"seconds as text", data({{{"id", sharedId}, {"name", "A"}, {"seconds", "600"}}})},
        {"missing name", data({{{"id", sharedId}, {"seconds", 600}}})},
        {"missing id", data({{{"name", "A"}, {"seconds", 600}}})},
        {"braced id", data({preset("A", 600, "{" + sharedId + "}")})},
        {"name not text", data({{{"id", sharedId}, {"name", 5}, {"seconds", 600}}})},
    };
}

TEST_F(PreferencesStoreTest, CorruptStoredListIsNeverWrittenOver) {
    for (const auto& [label, value] : corruptValues()) {
        SCOPED_TRACE(label);
        std::filesystem::remove(path());
        store(PreferencesStore::presetKey, value);
        const std::string before = readFile(path());

        auto prefs = open();
        EXPECT_TRUE(prefs->isCorrupt());
        EXPECT_TRUE(prefs->presets().empty());
        EXPECT_EQ(prefs->errorMessage(), describe(PreferencesError::corruptStorage));
        EXPECT_EQ(prefs->savePreset("Fresh", 600).error(), PreferencesError::corruptStorage);
        EXPECT_EQ(prefs->savePreset("", 1).error(), PreferencesError::corruptStorage);
        EXPECT_EQ(prefs->deletePreset(*Uuid::random()).error(), PreferencesError::corruptStorage);
        EXPECT_EQ(readFile(path()), before);
    }
}

TEST_F(PreferencesStoreTest, DamagedFileMeansNothingReadAndNothingWritten) {
    const std::string damaged = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>";
    writeBytes(path(), damaged);
    auto prefs = open();
    EXPECT_TRUE(prefs->isCorrupt());
    ASSERT_TRUE(prefs->storeProblem());
    EXPECT_NE(prefs->storeProblem()->message.find(path()), std::string::npos);
    EXPECT_EQ(prefs->errorMessage(), describe(PreferencesError::corruptStorage));
    EXPECT_EQ(prefs->savePreset("Focus", 600).error(), PreferencesError::corruptStorage);
    EXPECT_FALSE(prefs->automationEnabled());
    EXPECT_FALSE(prefs->sessionAlertsEnabled());
    EXPECT_EQ(prefs->lastDuration(), 3600);
    EXPECT_FALSE(prefs->setAutomationEnabled(true));
    EXPECT_FALSE(prefs->setSessionAlertsEnabled(true));
    EXPECT_FALSE(prefs->setLastDuration(600));
    EXPECT_EQ(readFile(path()), damaged);
}

TEST_F(PreferencesStoreTest, FailedWriteKeepsTheListAndReportsStorage) {
    // The folder is missing at start-up (nothing saved yet) and blocked by a file later.
    const std::string blocked = folder_.file("blocked/preferences.plist");
    PreferencesStore prefs(std::make_unique<PropertyListFile>(blocked));
    ASSERT_FALSE(prefs.isCorrupt());
    writeBytes(folder_.file("blocked"), "a file in the folder's place");
    EXPECT_EQ(prefs.savePreset("Focus", 600).error(), PreferencesError::storage);
    EXPECT_EQ(prefs.errorMessage(), describe(PreferencesError::storage));
    EXPECT_TRUE(prefs.presets().empty());

    // A name of one very long cluster cannot be stored within the file's size limit.
    auto fine = open();
    ASSERT_TRUE(fine->savePreset("Focus", 600));
    const std::string before = readFile(path());
    EXPECT_EQ(fine->savePreset("e" + repeat("\u0301", 600'000), 600).error(),
              PreferencesError::storage);
    EXPECT_EQ(fine->presets().size(), 1u);
    EXPECT_EQ(readFile(path()), before);
    // The next good save clears the message.
    ASSERT_TRUE(fine->savePreset("Build", 600));
    EXPECT_FALSE(fine->errorMessage());
}

TEST_F(PreferencesStoreTest, LastDurationFallsBackUnlessAWholeNumberInRange) {
    EXPECT_EQ(open()->lastDuration(), 3600);
    const std::vector<std::pair<PreferenceValue, std::int64_t>> cases = {
        {std::int64_t{1800}, 1800},
        {std::int64_t{60}, 60},
        {std::int64_t{86'400}, 86'400},
        {std::int64_t{30}, 3600},
        {std::int64_t{86'401}, 3600},
        {std::int64_t{-1800}, 3600},
        {1800.0, 1800},
        {1800.5, 3600},
        {true, 3600},
        {std::string("1800"), 3600},
        {PreferenceData{"1800"}, 3600},
    };
    for (const auto& [value, expected] : cases) {
        if (std::holds_alternative<std::int64_t>(value) && std::get<std::int64_t>(value) < 0) {
            writeBytes(path(), "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>"
                               "Vesperon.lastDuration.v1</key><integer>-1800</integer>"
                               "</dict></plist>");
        } else {
            store(PreferencesStore::durationKey, value);
        }
        EXPECT_EQ(open()->lastDuration(), expected) << value.index();
    }
    auto prefs = open();
    ASSERT_TRUE(prefs->setLastDuration(100'000));
    EXPECT_EQ(stored(PreferencesStore::durationKey), PreferenceValue(std::int64_t{3600}));
    ASSERT_TRUE(prefs->setLastDuration(59));
    EXPECT_EQ(stored(PreferencesStore::durationKey), PreferenceValue(std::int64_t{3600}));
    ASSERT_TRUE(prefs->setLastDuration(5400));
    EXPECT_EQ(stored(PreferencesStore::durationKey), PreferenceValue(std::int64_t{5400}));
    EXPECT_EQ(prefs->lastDuration(), 5400);
}

} // namespace
} // namespace vesperon
