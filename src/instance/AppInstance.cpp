#include "instance/AppInstance.hpp"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "common/CloseOnExec.hpp"
#include "common/ErrorDomains.hpp"
#include "common/SystemError.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/UserHome.hpp"

namespace vesperon {
namespace {

Result<sockaddr_un> socketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return fail(errorDomain::instance, "The instance socket path is too long: " + path);
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Waits until `fd` is ready for `events` or `deadline` passes.
bool waitFor(int fd, short events, double deadline) {
    for (;;) {
        const double left = deadline - steadySeconds();
        if (left <= 0) {
            return false;
        }
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left * 1000) + 1);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

void pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// How one attempt at a hand-over ended.
enum class Attempt {
    Delivered,
    NobodyListening, // no socket, a refused connection, or a peer that vanished unanswered
    Busy,            // the instance's queue of connections is full: it accepts none
    NoAnswer,        // connected, but no receipt before the deadline
    Refused,         // answered, but not with the receipt
};

// One connection, never blocking past `deadline`: a stopped instance neither accepts
// nor answers, and a blocking connect() would wait for it for ever.
Result<Attempt> attemptHandOver(const sockaddr_un& address, const std::string& message,
                                double deadline) {
    OwnedFd fd(socketCloseOnExec(AF_UNIX, SOCK_STREAM, 0));
    if (!fd || ::fcntl(fd.get(), F_SETFL, O_NONBLOCK) != 0) {
        return systemError("Could not make a socket", "", errno);
    }
    while (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        if (error == EINTR) {
            continue;
        }
        if (error == ENOENT || error == ECONNREFUSED) {
            return Attempt::NobodyListening;
        }
        if (error == EAGAIN) {
            return Attempt::Busy;
        }
        return systemError("Could not reach the running Vesperon", "", error);
    }
    std::string_view rest = message;
    while (!rest.empty()) {
        const ssize_t written = sendWithoutSignal(fd.get(), rest.data(), rest.size());
        if (written > 0) {
            rest.remove_prefix(static_cast<std::size_t>(written));
        } else if (errno == EAGAIN) {
            if (!waitFor(fd.get(), POLLOUT, deadline)) {
                return Attempt::NoAnswer;
            }
        } else if (errno == EPIPE || errno == ECONNRESET) {
            return Attempt::NobodyListening;
        } else if (errno != EINTR) {
            return systemError("Could not hand the URLs over", "", errno);
        }
    }
    std::string receipt;
    char buffer[16];
    while (receipt.size() < handOverReceipt.size()) {
        if (!waitFor(fd.get(), POLLIN, deadline)) {
            return Attempt::NoAnswer;
        }
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        receipt.append(buffer, static_cast<std::size_t>(n));
    }
    if (receipt.empty()) {
        // An instance being killed still holds its listening socket for a moment:
        // the connection is taken and then dropped unanswered.
        return Attempt::NobodyListening;
    }
    return receipt == handOverReceipt ? Attempt::Delivered : Attempt::Refused;
}

} // namespace

std::string instanceFolderPath() {
    const SystemLayout& layout = systemLayout();
    if (layout.isSandbox()) {
        return layout.sandboxRoot + "/vesperon-" + std::to_string(::geteuid());
    }
    return instanceFolderIn({userRuntimeFolder()}, userHomeFolder());
}

std::string instanceFolderIn(const std::vector<std::string>& runtimeFolders,
                             const std::string& home) {
    for (const std::string& runtime : runtimeFolders) {
        if (privateFolderOfOurs(runtime)) {
            return runtime + "/vesperon";
        }
    }
    if (home.empty() || home.front() != '/') {
        // An account without a home: a shared folder is all there is. claimInstance
        // still refuses it unless it is this user's and private.
        return "/tmp/vesperon-" + std::to_string(::geteuid());
    }
    // A folder that no other account can create first; claimInstance checks it.
    const std::string cache = home + "/.cache";
    (void)::mkdir(cache.c_str(), 0700);
    return cache + "/vesperon";
}

Result<InstanceOutcome> claimInstance(const std::string& folder) {
    if (auto prepared = preparePrivateFolder(folder); !prepared) {
        return std::unexpected(prepared.error());
    }
    const std::string socketPath = folder + "/socket";
    auto address = socketAddress(socketPath);
    if (!address) {
        return std::unexpected(address.error());
    }

    const std::string lockPath = folder + "/instance.lock";
    OwnedFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock) {
        return systemError("Could not open", lockPath, errno);
    }
    while (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return InstanceRunning{socketPath};
        }
        if (errno != EINTR) {
            return systemError("Could not lock", lockPath, errno);
        }
    }

    // Whatever socket file is here was left by an instance that no longer runs.
    if (::unlink(socketPath.c_str()) != 0 && errno != ENOENT) {
        return systemError("Could not remove the stale socket", socketPath, errno);
    }
    OwnedFd listener(socketCloseOnExec(AF_UNIX, SOCK_STREAM, 0));
    if (!listener) {
        return systemError("Could not make a socket", "", errno);
    }
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) !=
            0 ||
        ::listen(listener.get(), 16) != 0) {
        return systemError("Could not listen on", socketPath, errno);
    }
    return InstanceClaim{std::move(lock), std::move(listener), socketPath};
}

Result<std::optional<InstanceClaim>>
claimOrHandOver(const std::string& folder, const std::vector<std::string>& urls, double seconds) {
    std::size_t payload = 0;
    for (const std::string& url : urls) {
        payload += url.size() + 1;
    }
    if (payload > handOverLimit) {
        return fail(errorDomain::instance, "The URLs are too long to hand over.");
    }
    const std::string message = encodeHandOver(urls);
    const double deadline = steadySeconds() + seconds;
    for (Attempt last = Attempt::NobodyListening;;) {
        auto outcome = claimInstance(folder);
        if (!outcome) {
            return std::unexpected(outcome.error());
        }
        if (auto* claim = std::get_if<InstanceClaim>(&*outcome)) {
            return std::move(*claim);
        }
        if (steadySeconds() < deadline) {
            auto address = socketAddress(std::get<InstanceRunning>(*outcome).socketPath);
            if (!address) {
                return std::unexpected(address.error());
            }
            auto attempt = attemptHandOver(*address, message, deadline);
            if (!attempt) {
                return std::unexpected(attempt.error());
            }
            last = *attempt;
            if (last == Attempt::Delivered) {
                return std::nullopt;
            }
            if (last == Attempt::Refused) {
                return fail(errorDomain::instance,
                            urls.empty() ? "The running Vesperon refused to show its panel."
                                         : "The running Vesperon refused the URLs.");
            }
            if (last != Attempt::NoAnswer) {
                // Gone or not listening yet: its lock is free once it has ended.
                pause();
                continue;
            }
        }
        const std::string waited = std::to_string(static_cast<int>(seconds)) + " seconds";
        if (last == Attempt::NobodyListening) {
            std::string text = "Another Vesperon holds the instance lock in " + folder;
            text += " but does not listen on its socket; it did not end within ";
            text += waited;
            text += ".";
            return fail(errorDomain::instance, std::move(text));
        }
        return fail(errorDomain::instance, "The running Vesperon did not answer within " + waited +
                                               " (it may be stopped or hanging).");
    }
}

std::string encodeHandOver(const std::vector<std::string>& urls) {
    std::string payload;
    for (const std::string& url : urls) {
        payload += url;
        payload += '\0';
    }
    return std::to_string(payload.size()) + "\n" + payload;
}

Result<std::optional<std::vector<std::string>>> decodeHandOver(std::string_view received) {
    const auto malformed = [] {
        return fail(errorDomain::instance, "Malformed hand-over message.");
    };
    const std::size_t lineEnd = received.find('\n');
    const std::string_view digits = received.substr(0, lineEnd);
    if (digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return malformed();
    }
    if (lineEnd == std::string_view::npos) {
        return std::nullopt;
    }
    if (digits.empty()) {
        return malformed();
    }
    const std::size_t length = std::stoul(std::string(digits));
    std::string_view payload = received.substr(lineEnd + 1);
    if (length > handOverLimit || payload.size() > length) {
        return malformed();
    }
    if (payload.size() < length) {
        return std::nullopt;
    }
    if (!payload.empty() && payload.back() != '\0') {
        return malformed();
    }
    std::vector<std::string> urls;
    while (!payload.empty()) {
        const std::size_t end = payload.find('\0');
        urls.emplace_back(payload.substr(0, end));
        payload.remove_prefix(end + 1);
    }
    return urls;
}

} // namespace vesperon
