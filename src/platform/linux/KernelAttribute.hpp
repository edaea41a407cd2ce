#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vesperon::platform {

// One small attribute file of sysfs or procfs, its trailing white space removed;
// nothing when it cannot be read or is larger than a page.
std::optional<std::string> readKernelAttribute(const std::string& path);

// The attribute as a decimal integer; nothing when unreadable or not a whole number.
std::optional<std::int64_t> readKernelInteger(const std::string& path);

} // namespace vesperon::platform
