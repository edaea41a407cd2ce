#include "privileged/RootLock.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/SystemLayout.hpp"

namespace vesperon {
namespace {

[[noreturn]] void lockFailed(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
    std::fputs("Could not lock the power-setting transaction.\n", stderr);
    std::exit(1);
}

} // namespace

int rootLock() {
    // No symbolic link is followed and the file must be ours: another user must not be
    // able to make us create, truncate or hold a file of their choosing. The descriptor
    // is close-on-exec so that no tool we run inherits (and keeps) the lock.
    const int fd = ::open(systemLayout().rootLockPath.c_str(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        lockFailed(fd);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid() || !S_ISREG(info.st_mode)) {
        lockFailed(fd);
    }
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        lockFailed(fd);
    }
    return fd;
}

void rootUnlock(int fd) {
    (void)::flock(fd, LOCK_UN);
    (void)::close(fd);
}

} // namespace vesperon
