// The running executable on a Mac: the loader's record of the main image, with links
// and relative parts resolved.
#include "platform/RunningImage.hpp"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <mach-o/dyld.h>
#include <vector>

namespace vesperon {

std::string runningImagePath() {
    // The first call asks for the size; the second fills a buffer of that size.
    std::uint32_t size = 0;
    (void)_NSGetExecutablePath(nullptr, &size);
    std::vector<char> buffer(size + 1, '\0');
    if (_NSGetExecutablePath(buffer.data(), &size) != 0) {
        return {};
    }
    char resolved[PATH_MAX];
    return ::realpath(buffer.data(), resolved) != nullptr ? std::string(resolved) : std::string();
}

std::string executablePath() {
    return runningImagePath();
}

} // namespace vesperon
