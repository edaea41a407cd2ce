#include "platform/RunningImage.hpp"

#include <climits>
#include <unistd.h>

namespace vesperon {

std::string runningImagePath() {
    // The kernel's link to the mapped image: it opens the running file even if the
    // path it was started from has since been replaced or removed.
    return "/proc/self/exe";
}

std::string executablePath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(runningImagePath().c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

} // namespace vesperon
