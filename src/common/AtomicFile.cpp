#include "common/AtomicFile.hpp"
#include "common/DescriptorIO.hpp"

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

constexpr const char* fileErrorDomain = "NSPOSIXErrorDomain";

std::unexpected<Error> fileError(const std::string& what, const std::string& path, int error) {
    return fail(fileErrorDomain, "Could not " + what + " " + path + ": " + std::strerror(error),
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
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }

    Result<void> create() {
        std::string pattern = folderOf(target_) + "/." + nameOf(target_) + ".XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        fd_ = ::mkostemp(buffer.data(), O_CLOEXEC);
        if (fd_ < 0) {
            return fileError("create a file beside", target_, errno);
        }
        path_ = buffer.data();
        return {};
    }

    int fd() const { return fd_; }

    Result<void> commit(const FileAttributes& attributes) {
        if (::fchmod(fd_, attributes.mode) != 0) {
            return fileError("set the permissions of", target_, errno);
        }
        if (attributes.owner || attributes.group) {
            const uid_t owner = attributes.owner ? *attributes.owner : static_cast<uid_t>(-1);
            const gid_t group = attributes.group ? *attributes.group : static_cast<gid_t>(-1);
            if (::fchown(fd_, owner, group) != 0) {
                return fileError("set the owner of", target_, errno);
            }
        }
        if (::fsync(fd_) != 0) {
            return fileError("write", target_, errno);
        }
        const int closeResult = ::close(fd_);
        fd_ = -1;
        if (closeResult != 0) {
            return fileError("write", target_, errno);
        }
        if (::rename(path_.c_str(), target_.c_str()) != 0) {
            return fileError("replace", target_, errno);
        }
        path_.clear();
        // Make the rename itself durable; a folder that cannot be synced changes nothing.
        const int folder = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            (void)::fsync(folder);
            ::close(folder);
        }
        return {};
    }

  private:
    std::string target_;
    std::string path_;
    int fd_ = -1;
};

} // namespace

Result<void> writeFileAtomically(const std::string& path, std::string_view bytes,
                                 const FileAttributes& attributes) {
    TemporaryFile file(path);
    if (auto created = file.create(); !created) {
        return created;
    }
    if (auto written = writeAll(file.fd(), bytes, path); !written) {
        return written;
    }
    return file.commit(attributes);
}

Result<void> copyFileAtomically(const std::string& source, const std::string& target,
                                const FileAttributes& attributes) {
    const int input = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) {
        return fileError("read", source, errno);
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{input};
    struct stat info {};
    if (::fstat(input, &info) != 0) {
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
        const ssize_t n = ::read(input, buffer, sizeof buffer);
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
    return file.commit(attributes);
}

} // namespace vesperon
