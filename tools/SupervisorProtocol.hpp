#pragma once

#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "common/OwnedFd.hpp"

namespace vesperon::tools {

// The service tool stand-in (launchctl) talks to the supervisor over a Unix socket
// at DIR/machine/launchd.sock. A request is the command's arguments, each followed by
// a NUL byte, then end of stream; the reply is the exit status in decimal, a line
// feed, and the text the tool prints.
struct SupervisorReply {
    int status = 0;
    std::string text;
};

std::string supervisorSocketPath(const std::string& sandboxRoot);

// Client side: sends the arguments and waits for the reply.
std::expected<SupervisorReply, std::string> askSupervisor(const std::string& sandboxRoot,
                                                          const std::vector<std::string>& args,
                                                          int timeoutSeconds);

// Server side: a listening socket (close-on-exec) at the supervisor's path.
std::expected<OwnedFd, std::string> listenForRequests(const std::string& sandboxRoot);

// Reads one request from an accepted connection; nothing when it is malformed,
// oversized or does not arrive within a short time.
std::optional<std::vector<std::string>> readRequest(int connection);

// Sends the reply and closes the connection. A client that went away is not an error.
void sendReply(int connection, const SupervisorReply& reply);

} // namespace vesperon::tools
