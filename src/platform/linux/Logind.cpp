#include "platform/linux/Logind.hpp"

#include <algorithm>
#include <string_view>

#include "common/ErrorDomains.hpp"

#include <fcntl.h>

namespace vesperon::platform {
namespace {

constexpr const char* logindName = "org.freedesktop.login1";
constexpr const char* logindPath = "/org/freedesktop/login1";
constexpr const char* managerInterface = "org.freedesktop.login1.Manager";

} // namespace

Result<int> takeInhibitor(SystemBus& bus, const Inhibitor& inhibitor) {
    const SdBusFunctions& f = bus.functions();
    BusError error;
    BusMessage reply;
    const int status =
        f.callMethod(bus.handle(), logindName, logindPath, managerInterface, "Inhibit",
                     &error.error, &reply.message, "ssss", inhibitor.what.c_str(),
                     inhibitor.who.c_str(), inhibitor.why.c_str(), inhibitor.mode.c_str());
    if (status < 0) {
        return fail(error.name(status), "logind refused the inhibitor lock: " + error.text(status),
                    -status);
    }
    int fd = -1;
    if (const int read = f.read(reply.message, "h", &fd); read < 0) {
        return fail("org.freedesktop.DBus.Error.InvalidArgs", "logind sent no inhibitor descriptor",
                    -read);
    }
    // The reply owns its descriptor; ours outlives it.
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (own < 0) {
        return fail(errorDomain::system, "Could not keep the inhibitor descriptor", errno);
    }
    return own;
}

std::optional<std::vector<Inhibitor>> listInhibitors(SystemBus& bus) {
    const SdBusFunctions& f = bus.functions();
    BusError error;
    BusMessage reply;
    if (f.callMethod(bus.handle(), logindName, logindPath, managerInterface, "ListInhibitors",
                     &error.error, &reply.message, "") < 0) {
        return std::nullopt;
    }
    if (f.enterContainer(reply.message, 'a', "(ssssuu)") < 0) {
        return std::nullopt;
    }
    std::vector<Inhibitor> inhibitors;
    for (;;) {
        const char* what = nullptr;
        const char* who = nullptr;
        const char* why = nullptr;
        const char* mode = nullptr;
        std::uint32_t uid = 0;
        std::uint32_t pid = 0;
        const int read = f.read(reply.message, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid);
        if (read < 0) {
            return std::nullopt;
        }
        if (read == 0) {
            break;
        }
        inhibitors.push_back(Inhibitor{what, who, why, mode, uid, pid});
    }
    return inhibitors;
}

namespace {

// The kinds a lock blocks, in any order: logind lists them in its own order
// ("sleep:idle:handle-lid-switch"), not in the order the lock was taken.
std::vector<std::string_view> lockKinds(std::string_view what) {
    std::vector<std::string_view> kinds;
    while (!what.empty()) {
        const std::size_t colon = what.find(':');
        kinds.push_back(what.substr(0, colon));
        what = colon == std::string_view::npos ? std::string_view{} : what.substr(colon + 1);
    }
    std::sort(kinds.begin(), kinds.end());
    return kinds;
}

} // namespace

bool holdsOverride(const std::vector<Inhibitor>& inhibitors, pid_t watcher) {
    if (watcher <= 0) {
        return false;
    }
    for (const Inhibitor& inhibitor : inhibitors) {
        if (lockKinds(inhibitor.what) == lockKinds(overrideWhat) && inhibitor.who == overrideWho &&
            inhibitor.mode == overrideMode && inhibitor.uid == 0 &&
            inhibitor.pid == static_cast<std::uint32_t>(watcher)) {
            return true;
        }
    }
    return false;
}

} // namespace vesperon::platform
