#pragma once

#include <cstdint>
#include <optional>
#include <sys/types.h>

namespace vesperon::platform {

// What the kernel's /proc/PID/stat says of a process.
struct ProcessStat {
    char state = '?';
    pid_t parent = 0;
    pid_t group = 0;
    std::uint64_t startTicks = 0; // clock ticks after boot (CLOCK_BOOTTIME)

    // Not a zombie, not dead.
    [[nodiscard]] bool live() const { return state != 'Z' && state != 'X'; }
    // The start in seconds of CLOCK_BOOTTIME; nothing when the tick rate is unknown.
    [[nodiscard]] std::optional<double> startSeconds() const;
};

// Nothing when the process is gone or its line cannot be read.
[[nodiscard]] std::optional<ProcessStat> readProcessStat(pid_t pid);

} // namespace vesperon::platform
