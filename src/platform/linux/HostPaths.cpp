#include "platform/linux/HostPaths.hpp"

#include <cstdlib>

namespace vesperon::platform {
namespace {

constexpr const char* defaultSystemBus = "unix:path=/run/dbus/system_bus_socket";

#if defined(VESPERON_TEST_SEAMS)
std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}
#endif

std::string hostRoot() {
#if defined(VESPERON_TEST_SEAMS)
    static const std::string root = [] {
        std::string value = environmentValue("VESPERON_LINUX_ROOT");
        return value.starts_with('/') ? value : std::string();
    }();
    return root;
#else
    return {};
#endif
}

} // namespace

std::string hostPath(std::string_view absolute) {
    return hostRoot() + std::string(absolute);
}

std::string systemBusAddress() {
#if defined(VESPERON_TEST_SEAMS)
    if (std::string address = environmentValue("DBUS_SYSTEM_BUS_ADDRESS"); !address.empty()) {
        return address;
    }
#endif
    return defaultSystemBus;
}

bool hostFromEnvironment() {
#if defined(VESPERON_TEST_SEAMS)
    return true;
#else
    return false;
#endif
}

} // namespace vesperon::platform
