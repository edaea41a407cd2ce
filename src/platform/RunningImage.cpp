#include "platform/RunningImage.hpp"

#include <climits>
#include <unistd.h>

#if defined(__APPLE__)
#include <cstdint>
#include <mach-o/dyld.h>
#include <vector>
#endif

namespace vesperon {

std::string runningImagePath() {
#if defined(__APPLE__)
    std::uint32_t size = 0;
    (void)_NSGetExecutablePath(nullptr, &size);
    std::vector<char> buffer(size + 1, '\0');
    if (_NSGetExecutablePath(buffer.data(), &size) != 0) {
        return {};
    }
    return std::string(buffer.data());
#else
    // The kernel's link to the mapped image: it opens the running file even if the
    // path it was started from has since been replaced or removed.
    return "/proc/self/exe";
#endif
}

std::string executablePath() {
#if defined(__APPLE__)
    return runningImagePath();
#else
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(runningImagePath().c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
#endif
}

} // namespace vesperon
