#include "preferences/PreferencesStore.hpp"

#include <cmath>
#include <limits>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>

#include "common/UntrustedJson.hpp"
#include "preferences/UnicodeText.hpp"

namespace vesperon {

namespace {

// The stored list is an array of flat objects: nothing deeper is ever valid.
constexpr std::size_t presetJsonDepth = 4;

bool validDuration(std::int64_t seconds) {
    return seconds >= PreferencesStore::minSeconds && seconds <= PreferencesStore::maxSeconds;
}

bool validName(std::string_view name) {
    const auto count = graphemeCount(name);
    return count && *count >= 1 && *count <= PreferencesStore::maxNameCharacters;
}

// One stored preset object, or nothing when it is not exactly a valid preset.
std::optional<SavedPreset> decodePreset(const nlohmann::json& item) {
    if (!item.is_object()) {
        return std::nullopt;
    }
    const auto id = item.find("id");
    const auto name = item.find("name");
    const auto seconds = item.find("seconds");
    if (id == item.end() || name == item.end() || seconds == item.end() || !id->is_string() ||
        !name->is_string() || !seconds->is_number_integer()) {
        return std::nullopt;
    }
    const auto uuid = Uuid::parse(id->get_ref<const std::string&>());
    if (!uuid) {
        return std::nullopt;
    }
    std::int64_t duration = 0;
    if (seconds->is_number_unsigned()) {
        const auto raw = seconds->get<std::uint64_t>();
        if (raw > static_cast<std::uint64_t>(PreferencesStore::maxSeconds)) {
            return std::nullopt;
        }
        duration = static_cast<std::int64_t>(raw);
    } else {
        duration = seconds->get<std::int64_t>();
    }
    const auto& text = name->get_ref<const std::string&>();
    const auto trimmed = trimWhiteSpace(text);
    if (!validDuration(duration) || !validName(text) || !trimmed || *trimmed != text) {
        return std::nullopt;
    }
    return SavedPreset{*uuid, text, duration};
}

// The stored list when it can be accepted as a whole, else nothing.
std::optional<std::vector<SavedPreset>> decodeList(const PreferenceValue& stored) {
    const auto* data = std::get_if<PreferenceData>(&stored);
    if (data == nullptr) {
        return std::nullopt;
    }
    const auto json = parseUntrustedJson(data->bytes, presetJsonDepth);
    if (!json || !json->is_array() || json->size() > PreferencesStore::maxPresets) {
        return std::nullopt;
    }
    std::vector<SavedPreset> list;
    std::set<Uuid::Bytes> ids;
    std::set<std::string> keys;
    for (const auto& item : *json) {
        auto preset = decodePreset(item);
        if (!preset) {
            return std::nullopt;
        }
        auto key = caseFoldedKey(preset->name);
        if (!key || !ids.insert(preset->id.bytes()).second || !keys.insert(*key).second) {
            return std::nullopt;
        }
        list.push_back(std::move(*preset));
    }
    return list;
}

std::optional<std::string> encodeList(const std::vector<SavedPreset>& list) {
    try {
        nlohmann::json array = nlohmann::json::array();
        for (const auto& preset : list) {
            array.push_back(
                {{"id", preset.id.text()}, {"name", preset.name}, {"seconds", preset.seconds}});
        }
        return array.dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt; // text that is not UTF-8 cannot be encoded
    }
}

} // namespace

PreferencesStore::PreferencesStore(std::unique_ptr<KeyValueStore> defaults)
    : defaults_(std::move(defaults)) {
    load();
}

void PreferencesStore::load() {
    const auto stored = defaults_->value(presetKey);
    std::optional<std::vector<SavedPreset>> list;
    if (stored) {
        const auto& value = *stored;
        if (!value) {
            return; // nothing saved yet
        }
        list = decodeList(*value);
    } else {
        storeProblem_ = stored.error();
    }
    if (!list) {
        corrupt_ = true;
        errorMessage_ = describe(PreferencesError::CorruptStorage);
        return;
    }
    saved_ = std::move(*list);
}

std::expected<void, PreferencesError> PreferencesStore::savePreset(std::string_view name,
                                                                   std::int64_t seconds) {
    if (corrupt_) {
        return std::unexpected(PreferencesError::CorruptStorage);
    }
    const auto trimmed = trimWhiteSpace(name);
    if (!trimmed || !validName(*trimmed)) {
        return std::unexpected(PreferencesError::InvalidName);
    }
    if (!validDuration(seconds)) {
        return std::unexpected(PreferencesError::InvalidDuration);
    }
    const auto key = caseFoldedKey(*trimmed);
    if (!key) {
        return std::unexpected(PreferencesError::InvalidName);
    }
    std::vector<SavedPreset> list = saved_;
    for (SavedPreset& preset : list) {
        if (caseFoldedKey(preset.name) == key) {
            preset.name = *trimmed;
            preset.seconds = seconds;
            return persist(std::move(list));
        }
    }
    if (list.size() >= maxPresets) {
        return std::unexpected(PreferencesError::LimitReached);
    }
    const auto id = Uuid::random();
    if (!id) {
        errorMessage_ = describe(PreferencesError::Storage);
        return std::unexpected(PreferencesError::Storage);
    }
    list.push_back(SavedPreset{*id, *trimmed, seconds});
    return persist(std::move(list));
}

std::expected<void, PreferencesError> PreferencesStore::deletePreset(const Uuid& id) {
    if (corrupt_) {
        return std::unexpected(PreferencesError::CorruptStorage);
    }
    std::vector<SavedPreset> list;
    for (const SavedPreset& preset : saved_) {
        if (preset.id != id) {
            list.push_back(preset);
        }
    }
    return persist(std::move(list));
}

std::expected<void, PreferencesError> PreferencesStore::persist(std::vector<SavedPreset> list) {
    if (corrupt_) {
        return std::unexpected(PreferencesError::CorruptStorage);
    }
    const auto encoded = encodeList(list);
    if (!encoded || !defaults_->setValue(presetKey, PreferenceData{*encoded})) {
        errorMessage_ = describe(PreferencesError::Storage);
        return std::unexpected(PreferencesError::Storage);
    }
    saved_ = std::move(list);
    errorMessage_.reset();
    return {};
}

std::int64_t PreferencesStore::lastDuration() const {
    const auto stored = defaults_->value(durationKey);
    if (!stored) {
        return fallbackSeconds;
    }
    const auto& value = *stored;
    if (!value) {
        return fallbackSeconds;
    }
    if (const auto* integer = std::get_if<std::int64_t>(&*value)) {
        return validDuration(*integer) ? *integer : fallbackSeconds;
    }
    if (const auto* real = std::get_if<double>(&*value)) {
        // A real number counts when it is a whole number of seconds in range.
        if (std::isfinite(*real) && std::trunc(*real) == *real &&
            *real >= static_cast<double>(minSeconds) && *real <= static_cast<double>(maxSeconds)) {
            return static_cast<std::int64_t>(*real);
        }
    }
    return fallbackSeconds;
}

Result<void> PreferencesStore::setLastDuration(std::int64_t seconds) {
    return defaults_->setValue(durationKey, validDuration(seconds) ? seconds : fallbackSeconds);
}

bool PreferencesStore::readSwitch(const char* key) const {
    const auto stored = defaults_->value(key);
    if (!stored) {
        return false;
    }
    const auto& value = *stored;
    if (!value) {
        return false;
    }
    const auto* flag = std::get_if<bool>(&*value);
    return flag != nullptr && *flag;
}

bool PreferencesStore::automationEnabled() const {
    return readSwitch(automationKey);
}

Result<void> PreferencesStore::setAutomationEnabled(bool enabled) {
    return defaults_->setValue(automationKey, enabled);
}

bool PreferencesStore::sessionAlertsEnabled() const {
    return readSwitch(alertsKey);
}

Result<void> PreferencesStore::setSessionAlertsEnabled(bool enabled) {
    return defaults_->setValue(alertsKey, enabled);
}

} // namespace vesperon
