#pragma once

#include <sys/stat.h>

namespace vesperon {

// The modification time `info` records, in seconds since 1970-01-01 UTC.
[[nodiscard]] inline double modifiedSeconds(const struct stat& info) {
#if defined(__APPLE__)
    const timespec& stamp = info.st_mtimespec;
#else
    const timespec& stamp = info.st_mtim;
#endif
    return static_cast<double>(stamp.tv_sec) + static_cast<double>(stamp.tv_nsec) / 1e9;
}

} // namespace vesperon
