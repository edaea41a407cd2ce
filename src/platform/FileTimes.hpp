#pragma once

#include <sys/stat.h>

namespace vesperon {

// The modification time `info` records (seconds and nanoseconds since 1970-01-01 UTC);
// Linux names the field st_mtim, macOS st_mtimespec.
[[nodiscard]] inline const timespec& modificationTime(const struct stat& info) {
#if defined(__APPLE__)
    return info.st_mtimespec;
#else
    return info.st_mtim;
#endif
}

// The same in seconds.
[[nodiscard]] inline double modifiedSeconds(const struct stat& info) {
    const timespec& stamp = modificationTime(info);
    return static_cast<double>(stamp.tv_sec) + static_cast<double>(stamp.tv_nsec) / 1e9;
}

} // namespace vesperon
