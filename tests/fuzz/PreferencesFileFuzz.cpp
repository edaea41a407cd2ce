// The preferences over arbitrary contents: of the whole file (even first byte) or of the
// stored preset list (odd). A refused list leaves the file as it was; an accepted one holds
// presets within the limits and reads back unchanged once written again.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <unistd.h>

#include "preferences/PreferencesStore.hpp"
#include "preferences/PropertyListFile.hpp"

using namespace vesperon;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Memory-backed, as rewriting a file on disk costs milliseconds.
    static const std::string path = "/dev/shm/vesperon-fuzz-" + std::to_string(getpid());
    const auto contents = [] {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const auto inRange = [](std::int64_t s) {
        return s >= PreferencesStore::minSeconds && s <= PreferencesStore::maxSeconds;
    };
    if (size == 0) {
        return 0;
    }
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::filesystem::remove(path);
    if ((data[0] & 1) == 0) {
        std::ofstream(path, std::ios::binary) << rest;
    } else if (!PropertyListFile(path).setValue(PreferencesStore::presetKey,
                                                PreferenceData{rest})) {
        return 0;
    }
    const std::string before = contents();
    PreferencesStore store(std::make_unique<PropertyListFile>(path));
    bool sound =
        inRange(store.lastDuration()) && store.presets().size() <= PreferencesStore::maxPresets;
    for (const SavedPreset& preset : store.presets()) {
        sound = sound && inRange(preset.seconds) && !preset.name.empty();
    }
    if (store.isCorrupt()) {
        sound = sound && store.presets().empty() && !store.savePreset("Fuzz", 600) &&
                contents() == before;
    } else if (!store.presets().empty() && store.deletePreset(Uuid(Uuid::Bytes{}))) {
        // Written back (unless the file cannot keep it) and read again unchanged.
        sound = sound && PreferencesStore(std::make_unique<PropertyListFile>(path)).presets() ==
                             store.presets();
    }
    std::filesystem::remove(path);
    if (!sound) {
        __builtin_trap();
    }
    return 0;
}
