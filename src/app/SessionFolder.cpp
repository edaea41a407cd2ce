#include "app/SessionFolder.hpp"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "common/ErrorDomains.hpp"
#include "common/SystemError.hpp"
#include "common/Uuid.hpp"

namespace vesperon {
namespace {

Result<void> writeEmptyFile(const std::string& path, const char* what) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return systemError(what, "", errno);
    }
    ::close(fd);
    return {};
}

} // namespace

Result<SessionFolder> SessionFolder::create(const std::string& temporaryDirectory) {
    const std::string uuid = newUuidText();
    if (uuid.empty()) {
        return fail(errorDomain::system,
                    "The session folder could not be named: no randomness available.");
    }
    std::string base = temporaryDirectory;
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    SessionFolder folder(base + "/Vesperon-" + uuid);
    if (::mkdir(folder.path_.c_str(), 0700) != 0) {
        return systemError("The session folder could not be created", "", errno);
    }
    // mkdir honours the umask; the folder must be private whatever it is.
    if (::chmod(folder.path_.c_str(), 0700) != 0) {
        const int error = errno;
        folder.remove();
        return systemError("The session folder could not be made private", "", error);
    }
    if (auto written =
            writeEmptyFile(folder.heartbeatPath(), "The heartbeat file could not be written");
        !written) {
        folder.remove();
        return std::unexpected(written.error());
    }
    return folder;
}

Result<void> SessionFolder::renewHeartbeat() const {
    const timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    if (::utimensat(AT_FDCWD, heartbeatPath().c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        return systemError("The heartbeat could not be renewed", "", errno);
    }
    return {};
}

Result<void> SessionFolder::writeStop() const {
    return writeEmptyFile(stopPath(), "The stop request could not be written");
}

void SessionFolder::remove() const {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace vesperon
