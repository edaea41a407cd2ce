#include "agents/AgentEventFiles.hpp"

#include <array>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/UserHome.hpp"

namespace vesperon {

namespace {

#if defined(O_PATH)
constexpr int kAnchorFlags = O_PATH;
#else
constexpr int kAnchorFlags = O_RDONLY;
#endif

bool isPrivateDirectoryStat(const struct stat& info) {
    return S_ISDIR(info.st_mode) && info.st_uid == getuid() && (info.st_mode & 077) == 0;
}

OwnedFd anchorIfPrivate(int fd) {
    OwnedFd folder(fd);
    struct stat info {};
    if (!folder || fstat(folder.get(), &info) != 0 || !isPrivateDirectoryStat(info)) {
        return OwnedFd();
    }
    return folder;
}

bool safeChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
           c == '.' || c == ':' || c == '_';
}

} // namespace

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
    const std::string home = userHomeFolder();
    if (home.empty()) {
        return {};
    }
    return home + "/Library/Application Support/Vesperon/AgentEvents";
}

double AgentEventFiles::wallClockNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool AgentEventFiles::privateDirectory(const std::string& path) {
    struct stat info {};
    return !path.empty() && lstat(path.c_str(), &info) == 0 && isPrivateDirectoryStat(info);
}

OwnedFd AgentEventFiles::openPrivateDirectory(const std::string& path) {
    if (path.empty()) {
        return OwnedFd();
    }
    return anchorIfPrivate(open(path.c_str(), kAnchorFlags | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

OwnedFd AgentEventFiles::openPrivateDirectoryAt(int folder, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) {
        return OwnedFd();
    }
    return anchorIfPrivate(
        openat(folder, name.c_str(), kAnchorFlags | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool AgentEventFiles::privateDirectoryHandle(int folder) {
    struct stat info {};
    return fstat(folder, &info) == 0 && isPrivateDirectoryStat(info);
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
    if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != getuid() ||
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
