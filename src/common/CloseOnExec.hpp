#pragma once

#include <sys/socket.h>

namespace vesperon {

// Descriptors of ours that no child started later may inherit. Where the system has the
// atomic flags (SOCK_CLOEXEC, pipe2, accept4) they are close-on-exec from their first
// moment; elsewhere (macOS) the flag is set right after creation. There a thread that
// starts a child in between could pass the descriptor on; every child of ours is started
// by ChildProcess, which on such a system starts children with nothing but the
// descriptors it names (POSIX_SPAWN_CLOEXEC_DEFAULT), so the gap leaks nothing to them.
// Each returns what the call it stands for returns, with errno set on failure.

// socket(2) with SOCK_CLOEXEC.
[[nodiscard]] int socketCloseOnExec(int domain, int type, int protocol);
// socketpair(2) with SOCK_CLOEXEC on both ends.
[[nodiscard]] int socketPairCloseOnExec(int domain, int type, int protocol, int fds[2]);
// pipe2(2) with O_CLOEXEC on both ends.
[[nodiscard]] int pipeCloseOnExec(int fds[2]);
// accept4(2) with SOCK_CLOEXEC, the peer's address not asked for.
[[nodiscard]] int acceptCloseOnExec(int listener);
// send(2) that never raises SIGPIPE when the peer has gone (EPIPE instead): with
// MSG_NOSIGNAL where the system has it, else with SO_NOSIGPIPE set on the socket.
[[nodiscard]] ssize_t sendWithoutSignal(int fd, const void* data, size_t size);

} // namespace vesperon
