#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include <unistd.h>

#include "preferences/PreferencesStore.hpp"
#include "preferences/PropertyListFile.hpp"

// Opens the preferences over arbitrary file contents. The first byte chooses what the
// rest is: the whole file, or the stored preset list inside a well-formed file. A
// list that is not accepted must leave the file exactly as it was.
namespace {

// A private folder for the file, removed when the fuzzer exits.
struct Scratch {
    Scratch() {
        // Memory-backed when the system has it: rewriting a file on disk costs milliseconds.
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        std::string pattern = (base / "vesperon-fuzz-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        file = folder + "/preferences.plist";
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::string folder;
    std::string file;
};

const std::string& filePath() {
    static const Scratch scratch;
    return scratch.file;
}

std::string base64(std::string_view bytes) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const auto n = (std::uint32_t(std::uint8_t(bytes[i])) << 16) |
                       (std::uint32_t(std::uint8_t(bytes[i + 1])) << 8) |
                       std::uint8_t(bytes[i + 2]);
        out += {alphabet[n >> 18], alphabet[(n >> 12) & 63], alphabet[(n >> 6) & 63],
                alphabet[n & 63]};
    }
    if (i + 1 == bytes.size()) {
        const auto n = std::uint32_t(std::uint8_t(bytes[i])) << 16;
        out += {alphabet[n >> 18], alphabet[(n >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        const auto n = (std::uint32_t(std::uint8_t(bytes[i])) << 16) |
                       (std::uint32_t(std::uint8_t(bytes[i + 1])) << 8);
        out += {alphabet[n >> 18], alphabet[(n >> 12) & 63], alphabet[(n >> 6) & 63], '='};
    }
    return out;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vesperon;
    if (size == 0) {
        return 0;
    }
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string contents;
    if (data[0] & 1) {
        contents = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist "
                               "version=\"1.0\"><dict><key>") +
                   PreferencesStore::presetKey + "</key><data>" + base64(rest) +
                   "</data></dict></plist>";
    } else {
        contents = rest;
    }
    const std::string& path = filePath();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << contents;
    }
    PreferencesStore store(std::make_unique<PropertyListFile>(path));
    const std::int64_t duration = store.lastDuration();
    if (duration < PreferencesStore::minSeconds || duration > PreferencesStore::maxSeconds) {
        __builtin_trap();
    }
    if (store.isCorrupt()) {
        if (!store.presets().empty() || store.savePreset("Fuzz", 600) ||
            readAll(path) != contents) {
            __builtin_trap();
        }
        return 0;
    }
    if (store.presets().size() > PreferencesStore::maxPresets) {
        __builtin_trap();
    }
    for (const SavedPreset& preset : store.presets()) {
        if (preset.seconds < PreferencesStore::minSeconds ||
            preset.seconds > PreferencesStore::maxSeconds || preset.name.empty()) {
            __builtin_trap();
        }
    }
    // What was accepted is written back and read again unchanged.
    const auto before = store.presets();
    if (!before.empty()) {
        if (!store.deletePreset(Uuid(Uuid::Bytes{}))) {
            return 0; // the file could not be rewritten (for instance a value it cannot keep)
        }
        PreferencesStore reopened(std::make_unique<PropertyListFile>(path));
        if (reopened.isCorrupt() || reopened.presets() != before) {
            __builtin_trap();
        }
    }
    return 0;
}
