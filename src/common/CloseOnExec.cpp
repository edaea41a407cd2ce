// Close-on-exec from the first moment: the atomic flags of Linux (and the BSDs).
#include "common/CloseOnExec.hpp"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace vesperon {

int socketCloseOnExec(int domain, int type, int protocol) {
    return ::socket(domain, type | SOCK_CLOEXEC, protocol);
}

int socketPairCloseOnExec(int domain, int type, int protocol, int fds[2]) {
    return ::socketpair(domain, type | SOCK_CLOEXEC, protocol, fds);
}

int pipeCloseOnExec(int fds[2]) {
    return ::pipe2(fds, O_CLOEXEC);
}

int acceptCloseOnExec(int listener) {
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

ssize_t sendWithoutSignal(int fd, const void* data, size_t size) {
    return ::send(fd, data, size, MSG_NOSIGNAL);
}

} // namespace vesperon
