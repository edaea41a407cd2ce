#pragma once

#include <string>
#include <string_view>

// Where the Linux platform layer finds the kernel's files and the system bus. A
// production build reads the real /sys and /proc and the system bus at its fixed
// socket, and no environment variable. A build configured with test seams lets the
// tests point both at a fixture machine: VESPERON_LINUX_ROOT prefixes every kernel
// path and DBUS_SYSTEM_BUS_ADDRESS names a private system bus.
namespace vesperon::platform {

// `absolute` (a path beginning with "/") on the machine being read.
std::string hostPath(std::string_view absolute);

// The address of the system bus in sd-bus's address syntax.
std::string systemBusAddress();

// Whether this build takes its machine from the environment (test seams).
bool hostFromEnvironment();

} // namespace vesperon::platform
