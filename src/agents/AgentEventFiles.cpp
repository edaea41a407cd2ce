#include "agents/AgentEventFiles.hpp"

#include <array>
#include <clocale>
#include <cstdlib>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "common/JsonSyntax.hpp"
#include "platform/CLocaleNumber.hpp"
#include "platform/UserHome.hpp"

namespace vesperon {

namespace {

#if defined(O_PATH)
constexpr int anchorFlags = O_PATH;
#else
constexpr int anchorFlags = O_RDONLY;
#endif

OwnedFd anchorIfPrivate(int fd) {
    OwnedFd folder(fd);
    struct stat info {};
    if (!folder || fstat(folder.get(), &info) != 0 || !isPrivateFolderOfOurs(info)) {
        return {};
    }
    return folder;
}

bool safeChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
           c == '.' || c == ':' || c == '_';
}

// The text of a JSON string value checked by the syntax pass, its escapes decoded.
std::optional<std::string> stringValue(std::string_view raw) {
    if (raw.size() < 2 || raw.front() != '"') {
        return std::nullopt;
    }
    const std::string_view content = raw.substr(1, raw.size() - 2);
    if (content.find('\\') == std::string_view::npos) {
        return std::string(content);
    }
    const auto decoded = nlohmann::json::parse(raw, nullptr, /*allow_exceptions=*/false);
    if (!decoded.is_string()) {
        return std::nullopt;
    }
    return decoded.get<std::string>();
}

// The value of a JSON number checked by the syntax pass (which refuses one beyond a
// double's range), read the same in every locale. Neither std::from_chars (whose
// floating-point half needs the maths library in every process that links it) nor
// the locale-dependent strtod.
std::optional<double> numberValue(std::string_view raw) {
    if (raw.empty() || !(raw.front() == '-' || (raw.front() >= '0' && raw.front() <= '9'))) {
        return std::nullopt;
    }
    const std::string text(raw);
    char* end = nullptr;
    double value = 0;
    if (!platform::readCNumber(text.c_str(), &end, &value) || end != text.c_str() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<AgentEventRecord> AgentEventFiles::parseEventRecord(std::string_view data) {
    // The members' raw texts, by name; of a repeated name the last counts.
    constexpr std::array<std::string_view, 5> names = {"runID", "provider", "sessionID", "state",
                                                       "timestamp"};
    std::array<std::optional<std::string_view>, 5> values;
    bool known = true;
    const auto member = [&](std::string_view rawKey, std::string_view rawValue) {
        std::string key(rawKey);
        if (rawKey.find('\\') != std::string_view::npos) {
            const std::optional<std::string> decoded = stringValue("\"" + key + "\"");
            key = decoded.value_or(std::string());
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (key == names[i]) {
                values[i] = rawValue;
                return;
            }
        }
        known = false;
    };
    if (checkJsonSyntax(data, recordDepthLimit, member) != JsonShape::Object || !known) {
        return std::nullopt;
    }
    // Every member must be present: a missing one, like a malformed one, rejects the record.
    AgentEventRecord record;
    std::string* const texts[] = {&record.runID, &record.provider, &record.sessionID,
                                  &record.state};
    for (std::size_t i = 0; i < 4; ++i) {
        const std::optional<std::string_view>& raw = values[i];
        if (!raw) {
            return std::nullopt;
        }
        std::optional<std::string> text = stringValue(*raw);
        if (!text) {
            return std::nullopt;
        }
        *texts[i] = std::move(*text);
    }
    const std::optional<std::string_view>& rawTimestamp = values[4];
    if (!rawTimestamp) {
        return std::nullopt;
    }
    const std::optional<double> timestamp = numberValue(*rawTimestamp);
    if (!timestamp || !supportedProvider(record.provider) || !validSessionID(record.sessionID) ||
        !knownState(record.state)) {
        return std::nullopt;
    }
    record.timestamp = *timestamp;
    return record;
}

bool AgentEventFiles::supportedProvider(std::string_view provider) {
    return provider == "codex" || provider == "claude" || provider == "opencode" ||
           provider == "terminal";
}

bool AgentEventFiles::knownState(std::string_view state) {
    return state == "busy" || state == "waiting" || state == "idle" || state == "failed" ||
           state == "ended";
}

bool AgentEventFiles::validSessionID(std::string_view sessionID) {
    if (sessionID.empty() || sessionID.size() > sessionIDMaximum) {
        return false;
    }
    for (char c : sessionID) {
        if (!safeChar(c)) {
            return false;
        }
    }
    return true;
}

std::string AgentEventFiles::defaultFolder() {
#if defined(VESPERON_PLATFORM_LINUX)
    // Event files live for a moment: in the runtime folder, which is kept in memory,
    // a hook's write and the poll's removal never reach a disk.
    if (const std::string runtime = userRuntimeFolder(); !runtime.empty()) {
        return runtime + "/vesperon/AgentEvents";
    }
    const char* const underHome = "/.local/state/vesperon/AgentEvents";
#else
    const char* const underHome = "/Library/Application Support/Vesperon/AgentEvents";
#endif
    const std::string home = userHomeFolder();
    return home.empty() ? std::string() : home + underHome;
}

double AgentEventFiles::wallClockNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool AgentEventFiles::privateDirectory(const std::string& path) {
    struct stat info {};
    return !path.empty() && lstat(path.c_str(), &info) == 0 && isPrivateFolderOfOurs(info);
}

OwnedFd AgentEventFiles::openPrivateDirectory(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    return anchorIfPrivate(open(path.c_str(), anchorFlags | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

OwnedFd AgentEventFiles::openPrivateDirectoryAt(int folder, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) {
        return {};
    }
    return anchorIfPrivate(
        openat(folder, name.c_str(), anchorFlags | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool AgentEventFiles::privateDirectoryHandle(int folder) {
    struct stat info {};
    return fstat(folder, &info) == 0 && isPrivateFolderOfOurs(info);
}

std::optional<std::string> AgentEventFiles::readPrivate(const std::string& path,
                                                        std::size_t maximum) {
    if (path.empty()) {
        return std::nullopt;
    }
    return readPrivateAt(AT_FDCWD, path, maximum);
}

std::optional<std::string> AgentEventFiles::readPrivateAt(int folder, const std::string& name,
                                                          std::size_t maximum) {
    const OwnedFd file(
        openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file) {
        return std::nullopt;
    }
    struct stat info {};
    if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ourUserId() ||
        (info.st_mode & 077) != 0 || info.st_size <= 0 ||
        static_cast<std::size_t>(info.st_size) > maximum) {
        return std::nullopt;
    }
    std::string data(static_cast<std::size_t>(info.st_size), '\0');
    const ssize_t got = read(file.get(), data.data(), data.size());
    if (got < 0 || static_cast<std::size_t>(got) != data.size()) {
        return std::nullopt;
    }
    return data;
}

} // namespace vesperon
