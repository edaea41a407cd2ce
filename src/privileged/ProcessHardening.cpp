#include "privileged/ProcessHardening.hpp"

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/ProcessInspection.hpp"

namespace vesperon {
namespace {

// A closed standard descriptor would be reused by the next file we open, and our
// messages would then land in it.
void openStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0) {
            const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
            if (opened >= 0 && opened != fd) {
                ::dup2(opened, fd);
                ::close(opened);
            }
        }
    }
}

// Descriptors the caller left open (sockets, files of the application) have no
// business in a root process, nor in the tools it runs.
void closeInheritedDescriptors() {
    std::vector<int> stray;
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        const int own = ::dirfd(folder);
        while (const dirent* entry = ::readdir(folder)) {
            char* end = nullptr;
            const long fd = std::strtol(entry->d_name, &end, 10);
            if (end != entry->d_name && *end == '\0' && fd > STDERR_FILENO && fd != own) {
                stray.push_back(static_cast<int>(fd));
            }
        }
        ::closedir(folder);
    } else {
        const long limit = ::sysconf(_SC_OPEN_MAX);
        for (long fd = STDERR_FILENO + 1; fd < (limit > 0 ? limit : 1024); ++fd) {
            stray.push_back(static_cast<int>(fd));
        }
    }
    for (const int fd : stray) {
        ::close(fd);
    }
}

} // namespace

void hardenRootProcess() {
    openStandardDescriptors();
    closeInheritedDescriptors();
    ::umask(022);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    forbidInspection();
    // A caller that ignored SIGCHLD would leave us unable to collect our tools' status.
    std::signal(SIGCHLD, SIG_DFL);
}

} // namespace vesperon
