#include "common/AtomicFile.hpp"
#include "common/DescriptorIO.hpp"
#include "common/OwnedFd.hpp"
#include "common/SystemError.hpp"
#include "common/Uuid.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vesperon {
namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A temporary file beside `name` in an open folder that is removed unless it was
// committed. `shown` is what messages call the target.
class TemporaryFile {
  public:
    TemporaryFile(int folder, std::string name, std::string shown)
        : folder_(folder), name_(std::move(name)), shown_(std::move(shown)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!temporary_.empty()) {
            ::unlinkat(folder_, temporary_.c_str(), 0);
        }
    }

    Result<void> create(const std::string& temporaryName) {
        std::string temporary = temporaryName;
        if (temporary.empty()) {
            const std::string unique = newUuidText();
            if (unique.empty()) {
                return systemError("Could not create a file beside", shown_, EIO);
            }
            temporary = "." + name_ + "." + unique;
        }
        fd_.reset(::openat(folder_, temporary.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd_) {
            return systemError("Could not create a file beside", shown_, errno);
        }
        temporary_ = std::move(temporary);
        return {};
    }

    Result<void> write(std::string_view bytes) {
        if (!writeAll(fd_.get(), bytes)) {
            return systemError("Could not write", shown_, errno);
        }
        return {};
    }

    Result<void> commit(const AtomicWrite& how) {
        if (const auto& attributes = how.attributes) {
            if (::fchmod(fd_.get(), attributes->mode) != 0) {
                return systemError("Could not set the permissions of", shown_, errno);
            }
            if (attributes->owner || attributes->group) {
                const uid_t owner = attributes->owner.value_or(static_cast<uid_t>(-1));
                const gid_t group = attributes->group.value_or(static_cast<gid_t>(-1));
                if (::fchown(fd_.get(), owner, group) != 0) {
                    return systemError("Could not set the owner of", shown_, errno);
                }
            }
        }
        if ((how.durable && ::fsync(fd_.get()) != 0) || !fd_.close()) {
            return systemError("Could not write", shown_, errno);
        }
        if (how.beforeReplace) {
            if (auto allowed = how.beforeReplace(); !allowed) {
                return allowed;
            }
        }
        if (::renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) != 0) {
            return systemError("Could not replace", shown_, errno);
        }
        temporary_.clear();
        // Makes the rename itself durable; a folder that cannot be synced changes nothing.
        if (how.durable) {
            (void)::fsync(folder_);
        }
        return {};
    }

  private:
    int folder_;
    std::string name_;
    std::string shown_;
    std::string temporary_;
    OwnedFd fd_;
};

Result<OwnedFd> openFolderOf(const std::string& path) {
    OwnedFd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        return systemError("Could not create a file beside", path, errno);
    }
    return folder;
}

Result<void> writeIn(int folder, const std::string& name, const std::string& shown,
                     std::string_view bytes, const AtomicWrite& how) {
    TemporaryFile file(folder, name, shown);
    if (auto created = file.create(how.temporaryName); !created) {
        return created;
    }
    if (auto written = file.write(bytes); !written) {
        return written;
    }
    return file.commit(how);
}

} // namespace

Result<void> writeFileAtomically(const std::string& path, std::string_view bytes,
                                 const FileAttributes& attributes,
                                 const BeforeReplace& beforeReplace) {
    auto folder = openFolderOf(path);
    if (!folder) {
        return std::unexpected(folder.error());
    }
    return writeIn(folder->get(), nameOf(path), path, bytes,
                   AtomicWrite{attributes, true, {}, beforeReplace});
}

Result<void> writeFileAtomicallyAt(int folder, const std::string& name, std::string_view bytes,
                                   const AtomicWrite& how) {
    return writeIn(folder, name, name, bytes, how);
}

Result<void> copyFileAtomically(const std::string& source, const std::string& target,
                                const FileAttributes& attributes) {
    const OwnedFd input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input) {
        return systemError("Could not read", source, errno);
    }
    struct stat info {};
    if (::fstat(input.get(), &info) != 0) {
        return systemError("Could not read", source, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return systemError("Could not copy", source, EINVAL);
    }
    auto folder = openFolderOf(target);
    if (!folder) {
        return std::unexpected(folder.error());
    }
    const std::string name = nameOf(target);
    TemporaryFile file(folder->get(), name, target);
    if (auto created = file.create({}); !created) {
        return created;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(input.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return systemError("Could not read", source, errno);
        }
        if (n == 0) {
            break;
        }
        if (auto written = file.write(std::string_view(buffer, static_cast<std::size_t>(n)));
            !written) {
            return written;
        }
    }
    return file.commit(AtomicWrite{attributes, true, {}, {}});
}

} // namespace vesperon
