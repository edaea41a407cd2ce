#include "agents/HookEndpoint.hpp"

#include <cerrno>
#include <csignal>
#include <string_view>

#include <unistd.h>

#include "agents/AgentEventBridge.hpp"
#include "agents/AgentEventFiles.hpp"
#include "common/DescriptorIO.hpp"

namespace vesperon {

namespace {

// One byte more than a payload may have, so an oversized payload is recognised
// without reading the rest of it.
constexpr std::size_t readLimit = AgentEventFiles::payloadMaximum + 1;

std::size_t readStandardInput(char* buffer, std::size_t capacity) {
    std::size_t filled = 0;
    while (filled < capacity) {
        const ssize_t got = read(STDIN_FILENO, buffer + filled, capacity - filled);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        } else if (got == 0 || errno != EINTR) {
            break; // end of input, or no readable input at all
        }
    }
    return filled;
}

void answer() {
    // Nothing more to do when the agent has stopped listening.
    (void)writeAll(STDOUT_FILENO, "{}\n");
}

} // namespace

int hookEndpoint(const std::string& provider) {
    // An agent that stops listening must not turn the answer into a fatal signal.
    std::signal(SIGPIPE, SIG_IGN);
    static char buffer[readLimit];
    const std::size_t size = readStandardInput(buffer, sizeof buffer);
    if (size <= AgentEventFiles::payloadMaximum) {
        (void)AgentEventBridge::emit(provider, std::string_view(buffer, size));
    }
    answer();
    return 0;
}

} // namespace vesperon
