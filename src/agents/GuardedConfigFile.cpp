#include "agents/GuardedConfigFile.hpp"

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "agents/AgentHookSettings.hpp"
#include "common/AtomicFile.hpp"
#include "common/DescriptorIO.hpp"
#include "common/OwnedFd.hpp"
#include "common/SystemError.hpp"
#include "common/Uuid.hpp"

namespace vesperon {

namespace {

constexpr const char* symlinkMessage =
    "Configuration paths must contain regular files and folders, without symbolic links.";
constexpr const char* outsideMessage = "Configuration is outside your home folder.";
constexpr const char* tooLargeMessage = "The configuration is too large to modify safely.";
constexpr const char* changedMessage = "Agent settings changed while connecting. Try again.";

std::unexpected<Error> problem(const char* message) {
    return std::unexpected(agentConnectionProblem(message));
}

int openNew(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

std::string parentOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}
std::string nameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

} // namespace

GuardedConfigFile::GuardedConfigFile(std::string homeFolder, std::size_t maximumBytes)
    : home_(std::move(homeFolder)), maximumBytes_(maximumBytes) {
    while (home_.size() > 1 && home_.back() == '/') {
        home_.pop_back();
    }
}

Result<void> GuardedConfigFile::validate(const std::string& path) const {
    const std::string prefix = home_ == "/" ? home_ : home_ + "/";
    if (home_.empty() || home_.front() != '/' || path.size() <= prefix.size() ||
        !path.starts_with(prefix)) {
        return problem(outsideMessage);
    }
    std::vector<std::string> parts;
    std::size_t start = prefix.size();
    while (true) {
        const std::size_t slash = path.find('/', start);
        std::string part = path.substr(start, slash == std::string::npos ? slash : slash - start);
        // "a//b", "." and ".." would let the text of the path say more than the walk checks.
        if (part.empty() || part == "." || part == "..") {
            return problem(outsideMessage);
        }
        parts.push_back(std::move(part));
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }

    std::string current = home_;
    for (std::size_t i = 0; i <= parts.size(); ++i) {
        if (i > 0) {
            current += (current == "/" ? "" : "/") + parts[i - 1];
        }
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0) {
            if (errno == ENOENT) {
                return {}; // the rest is still to be created
            }
            return systemError("Could not inspect", current, errno);
        }
        const bool isTarget = i == parts.size();
        if (isTarget ? !S_ISREG(info.st_mode) : !S_ISDIR(info.st_mode)) {
            return problem(symlinkMessage);
        }
    }
    return {};
}

Result<std::optional<std::string>> GuardedConfigFile::read(const std::string& path) const {
    if (auto valid = validate(path); !valid) {
        return std::unexpected(valid.error());
    }
    // The walk above says the file is regular; opening without following a link and
    // checking the open file again closes the gap to a swap in between.
    const OwnedFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) {
            return std::optional<std::string>();
        }
        if (errno == ELOOP) {
            return problem(symlinkMessage);
        }
        return systemError("Could not open", path, errno);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return systemError("Could not inspect", path, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return problem(symlinkMessage);
    }
    if (info.st_size < 0 || static_cast<std::size_t>(info.st_size) > maximumBytes_) {
        return problem(tooLargeMessage);
    }
    // The file may grow while it is read: the limit holds for what is read.
    auto bytes = readToEnd(fd.get(), maximumBytes_);
    if (!bytes) {
        return errno == EFBIG ? problem(tooLargeMessage)
                              : systemError("Could not read", path, errno);
    }
    return bytes;
}

Result<void> GuardedConfigFile::createParentFolders(const std::string& path) const {
    const std::string parent = parentOf(path);
    std::size_t next = home_.size() + (home_ == "/" ? 0 : 1);
    while (next <= parent.size()) {
        std::size_t slash = parent.find('/', next);
        if (slash == std::string::npos) {
            slash = parent.size();
        }
        const std::string folder = parent.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            return systemError("Could not create the folder", folder, errno);
        }
        next = slash + 1;
    }
    return {};
}

Result<void> GuardedConfigFile::unchangedSince(const std::string& path,
                                               const std::optional<std::string>& existing) const {
    auto current = read(path);
    if (!current) {
        return std::unexpected(current.error());
    }
    if (*current != existing) {
        return problem(changedMessage);
    }
    return {};
}

void GuardedConfigFile::reach(Checkpoint point) const {
    if (hook_) {
        hook_(point);
    }
}

Result<bool> GuardedConfigFile::write(const std::string& data, const std::string& path,
                                      const std::optional<std::string>& existing) const {
    if (data.size() > maximumBytes_) {
        return problem("The updated configuration is too large to modify safely.");
    }
    if (existing && *existing == data) {
        return false;
    }
    if (auto valid = validate(path); !valid) {
        return std::unexpected(valid.error());
    }
    if (auto made = createParentFolders(path); !made) {
        return std::unexpected(made.error());
    }
    // Again: a folder that already existed may have been swapped for a link meanwhile.
    if (auto valid = validate(path); !valid) {
        return std::unexpected(valid.error());
    }
    reach(Checkpoint::BeforeFirstRecheck);
    if (auto same = unchangedSince(path, existing); !same) {
        return std::unexpected(same.error());
    }

    const std::string folder = parentOf(path);
    if (existing) {
        const std::string uuid = newUuidText();
        const std::string backupPath = folder + "/" + nameOf(path) + ".vesperon-backup-" + uuid;
        OwnedFd backup(uuid.empty() ? -1 : openNew(backupPath));
        if (backup.get() < 0) {
            return problem("Could not create a private settings backup.");
        }
        if (!writeAll(backup.get(), *existing) || ::fsync(backup.get()) != 0 || !backup.close()) {
            const int err = errno;
            ::unlink(backupPath.c_str());
            return systemError("Could not write the backup", backupPath, err);
        }
    }

    mode_t permissions = 0600;
    if (struct stat info{}; ::lstat(path.c_str(), &info) == 0) {
        permissions = info.st_mode & 0777;
    }

    // The file is replaced only if it still holds what the caller read: another
    // program's edit in the meantime is never overwritten.
    bool refused = false;
    const auto stillUnchanged = [&]() -> Result<void> {
        reach(Checkpoint::BeforeFinalRecheck);
        auto allowed = validate(path);
        if (allowed) {
            allowed = unchangedSince(path, existing);
        }
        refused = !allowed;
        return allowed;
    };
    if (auto written =
            writeFileAtomically(path, data, FileAttributes{permissions, {}, {}}, stillUnchanged);
        !written) {
        if (refused) {
            return std::unexpected(written.error());
        }
        return systemError("Could not write", path, written.error().code);
    }
    return true;
}

} // namespace vesperon
