// Opens the preferences over arbitrary file contents. An odd first byte makes the rest
// the stored preset list inside a well-formed file, an even one the whole file. A list
// that is not accepted must leave the file exactly as it was; one that is must hold
// presets within the limits and read back unchanged once written again.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <unistd.h>

#include "preferences/PreferencesStore.hpp"
#include "preferences/PropertyListFile.hpp"

namespace {

namespace fs = std::filesystem;

// A file of this process's own, removed when the fuzzer exits; memory-backed where the
// system has it, as rewriting a file on disk costs milliseconds.
struct Scratch {
    std::string path =
        (fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) /
        ("vesperon-fuzz-" + std::to_string(::getpid()) + ".plist");
    ~Scratch() {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vesperon;
    static const Scratch scratch;
    const std::string& path = scratch.path;
    if (size == 0) {
        return 0;
    }
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    fs::remove(path);
    if ((data[0] & 1) == 0) {
        std::ofstream(path, std::ios::binary) << rest;
    } else if (!PropertyListFile(path).setValue(PreferencesStore::presetKey,
                                                PreferenceData{rest})) {
        return 0;
    }
    const std::string contents = readAll(path);
    PreferencesStore store(std::make_unique<PropertyListFile>(path));
    const auto inRange = [](std::int64_t s) {
        return s >= PreferencesStore::minSeconds && s <= PreferencesStore::maxSeconds;
    };
    bool sound = inRange(store.lastDuration());
    if (store.isCorrupt()) {
        sound = sound && store.presets().empty() && !store.savePreset("Fuzz", 600) &&
                readAll(path) == contents;
    } else {
        const auto before = store.presets();
        sound = sound && before.size() <= PreferencesStore::maxPresets;
        for (const SavedPreset& preset : before) {
            sound = sound && inRange(preset.seconds) && !preset.name.empty();
        }
        // Written back (unless the file cannot keep it) and read again unchanged.
        if (!before.empty() && store.deletePreset(Uuid(Uuid::Bytes{}))) {
            PreferencesStore reopened(std::make_unique<PropertyListFile>(path));
            sound = sound && !reopened.isCorrupt() && reopened.presets() == before;
        }
    }
    if (!sound) {
        __builtin_trap();
    }
    return 0;
}
