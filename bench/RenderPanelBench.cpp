// Whole-process wall time of "vesperon --render-panel PATH preview" side by side with a
// minimal Qt program that makes an image of the same size and writes it as PNG. The
// two run in turn so that both see the same machine load.
//
// Usage: render_panel_bench VESPERON BASELINE OUTPUT_FOLDER [ROUNDS]
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

#include "BenchTiming.hpp"

extern char** environ;

namespace {

using vesperon::bench::median;
using vesperon::bench::monotonicSeconds;

// Wall time from spawning to reaping, or a negative number when it did not exit 0.
double timedRun(std::vector<std::string> argv) {
    std::vector<char*> pointers;
    for (std::string& argument : argv) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);
    const double start = monotonicSeconds();
    pid_t pid = -1;
    if (posix_spawn(&pid, pointers[0], nullptr, nullptr, pointers.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const double elapsed = monotonicSeconds() - start;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s VESPERON BASELINE OUTPUT_FOLDER [ROUNDS]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[3];
    const int rounds = argc > 4 ? std::max(5, std::atoi(argv[4])) : 40;
    const std::vector<std::string> panel = {argv[1], "--render-panel", folder + "/panel.png",
                                            "preview"};
    const std::vector<std::string> baseline = {argv[2], folder + "/baseline.png"};
    std::vector<double> panelTimes;
    std::vector<double> baselineTimes;
    for (int round = -3; round < rounds; ++round) { // three rounds to warm the caches
        const bool panelFirst = round % 2 == 0;
        const double a = timedRun(panelFirst ? panel : baseline);
        const double b = timedRun(panelFirst ? baseline : panel);
        const double panelTime = panelFirst ? a : b;
        const double baselineTime = panelFirst ? b : a;
        if (panelTime < 0 || baselineTime < 0) {
            std::fprintf(stderr, "render_panel_bench: a run failed\n");
            return 1;
        }
        if (round >= 0) {
            panelTimes.push_back(panelTime);
            baselineTimes.push_back(baselineTime);
        }
    }
    const double p = median(panelTimes);
    const double q = median(baselineTimes);
    std::printf("Panel renderer, %d rounds (median wall time per process):\n", rounds);
    std::printf("  vesperon --render-panel PATH preview   %8.1f ms\n", p * 1e3);
    std::printf("  minimal Qt image + PNG (baseline)      %8.1f ms\n", q * 1e3);
    std::printf("  ratio %.2f (target: at most 1.5)\n", p / q);
    return 0;
}
