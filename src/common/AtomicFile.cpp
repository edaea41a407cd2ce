#include "common/AtomicFile.hpp"
#include "common/DescriptorIO.hpp"
#include "common/ErrorDomains.hpp"
#include "common/OwnedFd.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vesperon {
namespace {

std::unexpected<Error> fileError(const std::string& what, const std::string& path, int error) {
    return fail(errorDomain::system, "Could not " + what + " " + path + ": " + std::strerror(error),
                error);
}

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

Result<void> writeAll(int fd, std::string_view bytes, const std::string& path) {
    if (!vesperon::writeAll(fd, bytes)) {
        return fileError("write", path, errno);
    }
    return {};
}

// A temporary file beside the target that is removed unless it was committed.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string& target) : target_(target) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }

    Result<void> create() {
        std::string pattern = folderOf(target_) + "/." + nameOf(target_) + ".XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        fd_.reset(::mkostemp(buffer.data(), O_CLOEXEC));
        if (!fd_) {
            return fileError("create a file beside", target_, errno);
        }
        path_ = buffer.data();
        return {};
    }

    [[nodiscard]] int fd() const { return fd_.get(); }

    Result<void> commit(const FileAttributes& attributes, const BeforeReplace& beforeReplace) {
        if (::fchmod(fd_.get(), attributes.mode) != 0) {
            return fileError("set the permissions of", target_, errno);
        }
        if (attributes.owner || attributes.group) {
            const uid_t owner = attributes.owner ? *attributes.owner : static_cast<uid_t>(-1);
            const gid_t group = attributes.group ? *attributes.group : static_cast<gid_t>(-1);
            if (::fchown(fd_.get(), owner, group) != 0) {
                return fileError("set the owner of", target_, errno);
            }
        }
        if (::fsync(fd_.get()) != 0 || !fd_.close()) {
            return fileError("write", target_, errno);
        }
        if (beforeReplace) {
            if (auto allowed = beforeReplace(); !allowed) {
                return allowed;
            }
        }
        if (::rename(path_.c_str(), target_.c_str()) != 0) {
            return fileError("replace", target_, errno);
        }
        path_.clear();
        // Make the rename itself durable; a folder that cannot be synced changes nothing.
        if (const OwnedFd folder(
                ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            folder) {
            (void)::fsync(folder.get());
        }
        return {};
    }

  private:
    std::string target_;
    std::string path_;
    OwnedFd fd_;
};

} // namespace

Result<void> writeFileAtomically(const std::string& path, std::string_view bytes,
                                 const FileAttributes& attributes,
                                 const BeforeReplace& beforeReplace) {
    TemporaryFile file(path);
    if (auto created = file.create(); !created) {
        return created;
    }
    if (auto written = writeAll(file.fd(), bytes, path); !written) {
        return written;
    }
    return file.commit(attributes, beforeReplace);
}

Result<void> copyFileAtomically(const std::string& source, const std::string& target,
                                const FileAttributes& attributes) {
    const OwnedFd input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input) {
        return fileError("read", source, errno);
    }
    struct stat info {};
    if (::fstat(input.get(), &info) != 0) {
        return fileError("read", source, errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return fileError("copy", source, EINVAL);
    }

    TemporaryFile file(target);
    if (auto created = file.create(); !created) {
        return created;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(input.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fileError("read", source, errno);
        }
        if (n == 0) {
            break;
        }
        if (auto written =
                writeAll(file.fd(), std::string_view(buffer, static_cast<std::size_t>(n)), target);
            !written) {
            return written;
        }
    }
    return file.commit(attributes, {});
}

} // namespace vesperon
