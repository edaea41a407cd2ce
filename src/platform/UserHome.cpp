#include "platform/UserHome.hpp"

#include <array>
#include <cerrno>
#include <cstddef>
#include <utility>
#include <vector>

#include <cstdlib>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/DescriptorIO.hpp"
#include "common/ErrorDomains.hpp"
#include "common/OwnedFd.hpp"
#include "common/SystemError.hpp"
#include "platform/SystemLayout.hpp"

namespace vesperon {

namespace {

// An account entry larger than this is not believed: the lookup gives up instead of
// growing its buffer without end.
constexpr std::size_t maxEntryBytes = 1 << 20;

// A password file larger than this is left to the name service.
constexpr std::size_t maxPasswordFileBytes = 8 << 20;

std::optional<uid_t> parseId(std::string_view text) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned long long>(c - '0');
    }
    if (value > static_cast<uid_t>(-1)) {
        return std::nullopt;
    }
    return static_cast<uid_t>(value);
}

std::optional<std::string> homeFolderFromPasswordFile(uid_t uid) {
    const int fd = ::open("/etc/passwd", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    const std::optional<std::string> text = readToEnd(fd, maxPasswordFileBytes);
    ::close(fd);
    if (!text) {
        return std::nullopt;
    }
    return homeFolderInPasswordFile(*text, uid);
}

std::string homeFolderFromNameService(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    for (;;) {
        const int rc = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < maxEntryBytes) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc == EINTR) {
            continue;
        }
        if (rc != 0 || found == nullptr || found->pw_dir == nullptr) {
            return {};
        }
        return found->pw_dir;
    }
}

} // namespace

std::optional<std::string> homeFolderInPasswordFile(std::string_view text, uid_t uid) {
    constexpr std::size_t fieldCount = 7;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line[0] == '#' || line[0] == '+' || line[0] == '-') {
            continue;
        }
        // The shell, last, takes the rest of the line.
        std::array<std::string_view, fieldCount> fields;
        std::string_view rest = line;
        std::size_t count = 0;
        for (; count + 1 < fieldCount; ++count) {
            const std::size_t colon = rest.find(':');
            if (colon == std::string_view::npos) {
                break;
            }
            fields[count] = rest.substr(0, colon);
            rest = rest.substr(colon + 1);
        }
        if (count + 1 != fieldCount) {
            continue;
        }
        fields[count] = rest;
        if (parseId(fields[2]) == uid) {
            return std::string(fields[5]);
        }
    }
    return std::nullopt;
}

std::string userHomeFolder() {
    const SystemLayout& layout = systemLayout();
    if (layout.isSandbox()) {
        return layout.sandboxRoot + "/home";
    }
    const uid_t uid = ::getuid();
    if (std::optional<std::string> home = homeFolderFromPasswordFile(uid)) {
        return std::move(*home);
    }
    return homeFolderFromNameService(uid);
}

uid_t ourUserId() {
    static const uid_t ours = ::geteuid();
    return ours;
}

bool isPrivateFolderOfOurs(const struct stat& info) {
    return S_ISDIR(info.st_mode) && info.st_uid == ourUserId() && (info.st_mode & 077) == 0;
}

bool privateFolderOfOurs(const std::string& path) {
    struct stat info {};
    return !path.empty() && path.front() == '/' && ::lstat(path.c_str(), &info) == 0 &&
           isPrivateFolderOfOurs(info);
}

Result<void> preparePrivateFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return systemError("Could not create", folder, errno);
    }
    const OwnedFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        return systemError("Could not open", folder, errno);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return systemError("Could not inspect", folder, errno);
    }
    if (info.st_uid != ourUserId()) {
        return fail(errorDomain::system, folder + " belongs to another user.");
    }
    if ((info.st_mode & 07777) != 0700 && ::fchmod(fd.get(), 0700) != 0) {
        return systemError("Could not make " + folder + " private", "", errno);
    }
    return {};
}

std::string userRuntimeFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && privateFolderOfOurs(runtime)) {
        return runtime;
    }
    std::string session = "/run/user/" + std::to_string(ourUserId());
    return privateFolderOfOurs(session) ? session : std::string();
}

} // namespace vesperon
