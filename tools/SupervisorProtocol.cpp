#include "SupervisorProtocol.hpp"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

#include "common/CloseOnExec.hpp"

namespace vesperon::tools {
namespace {

constexpr std::size_t maxRequestBytes = std::size_t{64} * 1024;
constexpr std::size_t maxReplyBytes = std::size_t{1024} * 1024;

// A socket of the supervisor's family and the address of its path.
struct Endpoint {
    OwnedFd socket;
    sockaddr_un address{};
    [[nodiscard]] const sockaddr* name() const {
        return reinterpret_cast<const sockaddr*>(&address);
    }
};

std::expected<Endpoint, std::string> endpointOf(const std::string& sandboxRoot) {
    const std::string path = supervisorSocketPath(sandboxRoot);
    Endpoint endpoint;
    endpoint.address.sun_family = AF_UNIX;
    if (path.size() >= sizeof endpoint.address.sun_path) {
        return std::unexpected("the sandbox folder's path is too long for a socket (" + path + ")");
    }
    std::memcpy(endpoint.address.sun_path, path.c_str(), path.size() + 1);
    endpoint.socket.reset(vesperon::socketCloseOnExec(AF_UNIX, SOCK_STREAM, 0));
    if (!endpoint.socket) {
        return std::unexpected(std::string("socket: ") + std::strerror(errno));
    }
    return endpoint;
}

void setTimeout(int fd, int option, int seconds) {
    timeval timeout{};
    timeout.tv_sec = seconds;
    ::setsockopt(fd, SOL_SOCKET, option, &timeout, sizeof timeout);
}

bool sendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = sendWithoutSignal(fd, data.data() + sent, data.size() - sent);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads to end of stream; nothing on error, time-out or more than `limit` bytes.
std::optional<std::string> receiveAll(int fd, std::size_t limit) {
    std::string data;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || data.size() + static_cast<std::size_t>(n) > limit) {
            return std::nullopt;
        }
        if (n == 0) {
            return data;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace

std::string supervisorSocketPath(const std::string& sandboxRoot) {
    return sandboxRoot + "/machine/launchd.sock";
}

std::expected<SupervisorReply, std::string> askSupervisor(const std::string& sandboxRoot,
                                                          const std::vector<std::string>& args,
                                                          int timeoutSeconds) {
    auto endpoint = endpointOf(sandboxRoot);
    if (!endpoint) {
        return std::unexpected(endpoint.error());
    }
    const int fd = endpoint->socket.get();
    if (::connect(fd, endpoint->name(), sizeof endpoint->address) != 0) {
        return std::unexpected("the sandbox's service manager is not running at " +
                               supervisorSocketPath(sandboxRoot) + " (" + std::strerror(errno) +
                               ")");
    }
    setTimeout(fd, SO_RCVTIMEO, timeoutSeconds);
    setTimeout(fd, SO_SNDTIMEO, timeoutSeconds);
    std::string request;
    for (const std::string& arg : args) {
        request += arg;
        request += '\0';
    }
    if (!sendAll(fd, request) || ::shutdown(fd, SHUT_WR) != 0) {
        return std::unexpected("could not send the request to the service manager");
    }
    const auto data = receiveAll(fd, maxReplyBytes);
    if (!data) {
        return std::unexpected("no answer from the service manager");
    }
    const std::size_t newline = data->find('\n');
    if (newline == std::string::npos) {
        return std::unexpected("no answer from the service manager");
    }
    SupervisorReply reply;
    const auto [end, error] = std::from_chars(data->data(), data->data() + newline, reply.status);
    if (error != std::errc() || end != data->data() + newline) {
        return std::unexpected("malformed answer from the service manager");
    }
    reply.text = data->substr(newline + 1);
    return reply;
}

std::expected<OwnedFd, std::string> listenForRequests(const std::string& sandboxRoot) {
    auto endpoint = endpointOf(sandboxRoot);
    if (!endpoint) {
        return std::unexpected(endpoint.error());
    }
    ::unlink(endpoint->address.sun_path);
    if (::bind(endpoint->socket.get(), endpoint->name(), sizeof endpoint->address) != 0 ||
        ::listen(endpoint->socket.get(), 64) != 0) {
        return std::unexpected("cannot listen at " + supervisorSocketPath(sandboxRoot) + ": " +
                               std::strerror(errno));
    }
    return std::move(endpoint->socket);
}

std::optional<std::vector<std::string>> readRequest(int connection) {
    setTimeout(connection, SO_RCVTIMEO, 2);
    setTimeout(connection, SO_SNDTIMEO, 2);
    const auto data = receiveAll(connection, maxRequestBytes);
    if (!data || data->empty() || data->back() != '\0') {
        return std::nullopt;
    }
    std::vector<std::string> args;
    std::size_t start = 0;
    while (start < data->size()) {
        const std::size_t end = data->find('\0', start);
        args.push_back(data->substr(start, end - start));
        start = end + 1;
    }
    return args;
}

void sendReply(int connection, const SupervisorReply& reply) {
    sendAll(connection, std::to_string(reply.status) + "\n" + reply.text);
    ::close(connection);
}

} // namespace vesperon::tools
