// Close-on-exec set right after creation, for systems without the atomic flags (macOS):
// see CloseOnExec.hpp for why the moment in between leaks nothing to our children.
#include "common/CloseOnExec.hpp"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace vesperon {

namespace {

// Marks `fd` close-on-exec, or closes it and reports the failure.
int markedOrClosed(int fd) {
    if (fd >= 0 && ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int bothMarked(int fds[2]) {
    if (markedOrClosed(fds[0]) < 0) {
        const int error = errno;
        ::close(fds[1]);
        errno = error;
        return -1;
    }
    if (markedOrClosed(fds[1]) < 0) {
        const int error = errno;
        ::close(fds[0]);
        errno = error;
        return -1;
    }
    return 0;
}

} // namespace

int socketCloseOnExec(int domain, int type, int protocol) {
    return markedOrClosed(::socket(domain, type, protocol));
}

int socketPairCloseOnExec(int domain, int type, int protocol, int fds[2]) {
    if (::socketpair(domain, type, protocol, fds) != 0) {
        return -1;
    }
    return bothMarked(fds);
}

int pipeCloseOnExec(int fds[2]) {
    if (::pipe(fds) != 0) {
        return -1;
    }
    return bothMarked(fds);
}

int acceptCloseOnExec(int listener) {
    return markedOrClosed(::accept(listener, nullptr, nullptr));
}

ssize_t sendWithoutSignal(int fd, const void* data, size_t size) {
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) != 0) {
        return -1;
    }
    return ::send(fd, data, size, 0);
}

} // namespace vesperon
