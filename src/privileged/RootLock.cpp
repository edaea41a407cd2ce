#include "privileged/RootLock.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "platform/SystemLayout.hpp"

namespace vesperon {
namespace {

constexpr std::chrono::milliseconds retryPause{50};

[[noreturn]] void lockFailed(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
    std::fputs("Could not lock the power-setting transaction.\n", stderr);
    std::exit(1);
}

} // namespace

bool lockWithin(int fd, std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(retryPause);
    }
}

int rootLock() {
    // No symbolic link is followed and the file must be ours and private: anyone who
    // could open it could hold the lock and keep every root mode, the watcher
    // included, from restoring sleep. The descriptor is close-on-exec so that no tool
    // we run inherits (and keeps) the lock.
    const int fd = ::open(systemLayout().rootLockPath.c_str(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        lockFailed(fd);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid() || !S_ISREG(info.st_mode) ||
        (info.st_mode & 0077) != 0) {
        lockFailed(fd);
    }
    if (!lockWithin(fd, rootLockPatience)) {
        lockFailed(fd);
    }
    return fd;
}

void rootUnlock(int fd) {
    (void)::flock(fd, LOCK_UN);
    (void)::close(fd);
}

} // namespace vesperon
