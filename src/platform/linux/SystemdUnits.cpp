#include "platform/linux/SystemdUnits.hpp"

#include "common/ErrorDomains.hpp"

#include <cstdint>

namespace vesperon::platform {
namespace {

constexpr const char* systemdName = "org.freedesktop.systemd1";
constexpr const char* systemdPath = "/org/freedesktop/systemd1";
constexpr const char* managerInterface = "org.freedesktop.systemd1.Manager";
constexpr std::uint64_t restartMicroseconds = 5'000'000;
constexpr std::uint64_t callTimeoutMicroseconds = 10'000'000;

std::unexpected<Error> unknownState(const std::string& unit) {
    return fail("org.freedesktop.DBus.Error.InvalidArgs",
                "systemd did not say whether " + unit + " runs");
}

// Appends the ExecStart property: one command, its path, its argv, failure not ignored.
int appendExecStart(const SdBusFunctions& f, sd_bus_message* m,
                    const std::vector<std::string>& arguments) {
    int r = f.openContainer(m, 'r', "sv");
    r = r < 0 ? r : f.append(m, "s", "ExecStart");
    r = r < 0 ? r : f.openContainer(m, 'v', "a(sasb)");
    r = r < 0 ? r : f.openContainer(m, 'a', "(sasb)");
    r = r < 0 ? r : f.openContainer(m, 'r', "sasb");
    r = r < 0 ? r : f.append(m, "s", arguments.front().c_str());
    r = r < 0 ? r : f.openContainer(m, 'a', "s");
    for (const std::string& argument : arguments) {
        r = r < 0 ? r : f.append(m, "s", argument.c_str());
    }
    r = r < 0 ? r : f.closeContainer(m);
    r = r < 0 ? r : f.append(m, "b", 0);
    r = r < 0 ? r : f.closeContainer(m);
    r = r < 0 ? r : f.closeContainer(m);
    r = r < 0 ? r : f.closeContainer(m);
    return r < 0 ? r : f.closeContainer(m);
}

} // namespace

Result<void> startTransientService(SystemBus& bus, const std::string& unit,
                                   const std::vector<std::string>& arguments) {
    const SdBusFunctions& f = bus.functions();
    BusMessage call;
    int r = f.newMethodCall(bus.handle(), &call.message, systemdName, systemdPath, managerInterface,
                            "StartTransientUnit");
    r = r < 0 ? r : f.append(call.message, "ss", unit.c_str(), "fail");
    r = r < 0 ? r : f.openContainer(call.message, 'a', "(sv)");
    // A failed unit is unloaded too (CollectMode), so that the next session's unit of
    // the same name can be started.
    r = r < 0 ? r
              : f.append(call.message, "(sv)(sv)(sv)(sv)(sv)", "Description", "s",
                         "Vesperon recovery watcher", "Type", "s", "simple", "Restart", "s",
                         "always", "RestartUSec", "t", restartMicroseconds, "CollectMode", "s",
                         "inactive-or-failed");
    // A restart that finds the program gone (its files removed by a watcher that was
    // ended before it could stop its unit) is skipped, and the unit ends.
    r = r < 0 ? r
              : f.append(call.message, "(sv)", "Conditions", "a(sbbs)", 1, "ConditionPathExists", 0,
                         0, arguments.front().c_str());
    r = r < 0 ? r : appendExecStart(f, call.message, arguments);
    r = r < 0 ? r : f.closeContainer(call.message);
    r = r < 0 ? r : f.append(call.message, "a(sa(sv))", 0);
    if (r < 0) {
        return fail(errorDomain::system, "Could not build the service request", -r);
    }
    BusError error;
    BusMessage reply;
    if (const int status = f.call(bus.handle(), call.message, callTimeoutMicroseconds, &error.error,
                                  &reply.message);
        status < 0) {
        return fail(error.name(status),
                    "systemd's StartTransientUnit call over D-Bus failed for " + unit + ": " +
                        error.text(status),
                    -status);
    }
    return {};
}

Result<void> stopUnit(SystemBus& bus, const std::string& unit) {
    BusError error;
    BusMessage reply;
    if (const int status = bus.functions().callMethod(
            bus.handle(), systemdName, systemdPath, managerInterface, "StopUnit", &error.error,
            &reply.message, "ss", unit.c_str(), "replace");
        status < 0) {
        return fail(error.name(status),
                    "systemd's StopUnit call over D-Bus failed for " + unit + ": " +
                        error.text(status),
                    -status);
    }
    return {};
}

namespace {

// The object path of `unit`; nothing when systemd has no such unit loaded.
Result<std::optional<std::string>> unitPath(SystemBus& bus, const std::string& unit) {
    const SdBusFunctions& f = bus.functions();
    BusError error;
    BusMessage reply;
    if (const int status = f.callMethod(bus.handle(), systemdName, systemdPath, managerInterface,
                                        "GetUnit", &error.error, &reply.message, "s", unit.c_str());
        status < 0) {
        if (error.name(status) == "org.freedesktop.systemd1.NoSuchUnit") {
            return std::optional<std::string>();
        }
        return fail(error.name(status), "systemd did not say whether " + unit + " runs", -status);
    }
    const char* path = nullptr;
    if (f.read(reply.message, "o", &path) < 0) {
        return unknownState(unit);
    }
    return std::optional<std::string>(path);
}

// Reads one property of the unit at `path` into `value`, of D-Bus type `type`.
bool readProperty(SystemBus& bus, const std::string& path, const char* interface,
                  const char* property, const char* type, void* value) {
    const SdBusFunctions& f = bus.functions();
    BusError error;
    BusMessage reply;
    return f.callMethod(bus.handle(), systemdName, path.c_str(), "org.freedesktop.DBus.Properties",
                        "Get", &error.error, &reply.message, "ss", interface, property) >= 0 &&
           f.enterContainer(reply.message, 'v', type) >= 0 &&
           f.read(reply.message, type, value) >= 0;
}

} // namespace

Result<std::optional<std::string>> unitActiveState(SystemBus& bus, const std::string& unit) {
    const auto path = unitPath(bus, unit);
    if (!path) {
        return std::unexpected(path.error());
    }
    const std::optional<std::string>& object = *path;
    if (!object) {
        return std::optional<std::string>();
    }
    const char* state = nullptr;
    if (!readProperty(bus, *object, "org.freedesktop.systemd1.Unit", "ActiveState", "s",
                      static_cast<void*>(&state))) {
        return unknownState(unit);
    }
    return std::optional<std::string>(state);
}

Result<std::optional<pid_t>> unitMainProcess(SystemBus& bus, const std::string& unit) {
    const auto path = unitPath(bus, unit);
    if (!path) {
        return std::unexpected(path.error());
    }
    const std::optional<std::string>& object = *path;
    if (!object) {
        return std::optional<pid_t>();
    }
    std::uint32_t pid = 0;
    if (!readProperty(bus, *object, "org.freedesktop.systemd1.Service", "MainPID", "u", &pid)) {
        return unknownState(unit);
    }
    return pid > 0 ? std::optional<pid_t>(static_cast<pid_t>(pid)) : std::optional<pid_t>();
}

} // namespace vesperon::platform
