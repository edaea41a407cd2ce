// A root process that takes the root lock and holds it for a while, so that tests can
// watch two processes contend for it. Usage: lock_holder HOLD_MS [orphan]
//   orphan: while holding the lock, run a tool that leaves a background process behind.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <time.h>

#include "platform/ToolRunner.hpp"
#include "privileged/RootLock.hpp"

namespace {

double monotonicSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    const int lock = vesperon::rootLock();
    std::printf("locked %.6f\n", monotonicSeconds());
    std::fflush(stdout);
    if (argc > 2 && std::strcmp(argv[2], "orphan") == 0) {
        (void)vesperon::run("/bin/sh", {"-c", "sleep 5 >/dev/null 2>&1 &"});
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[1])));
    std::printf("unlocking %.6f\n", monotonicSeconds());
    std::fflush(stdout);
    vesperon::rootUnlock(lock);
    return 0;
}
