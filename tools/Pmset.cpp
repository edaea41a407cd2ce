// Stand-in for the power-management tool on a sandboxed machine. Keeps the real
// tool's command grammar and exit statuses; the system-wide sleep override lives in
// DIR/machine/sleep-disabled and survives the sandbox's reboot. Every call is counted
// in DIR/machine/power-calls, display sleeps in DIR/machine/display-sleeps, and
// DIR/machine/fail-power holds how many of the next calls fail without acting.
#include <cstdio>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "MachineFiles.hpp"

using vesperon::tools::MachineFiles;

namespace {

constexpr const char* usage = "Usage: pmset -g\n"
                              "       pmset -a disablesleep 0|1\n"
                              "       pmset displaysleepnow\n";

int printSettings(const MachineFiles& files) {
    const long long disabled = files.readInteger("sleep-disabled", 0) == 1 ? 1 : 0;
    std::printf("System-wide power settings:\n"
                " SleepDisabled\t\t%lld\n"
                "Currently in use:\n"
                " standby              1\n"
                " Sleep On Power Button 1\n"
                " hibernatefile        /var/vm/sleepimage\n"
                " powernap             1\n"
                " disksleep            10\n"
                " sleep                1\n"
                " hibernatemode        3\n"
                " displaysleep         10\n"
                " tcpkeepalive         1\n"
                " lowpowermode         0\n",
                disabled);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const auto root = vesperon::tools::sandboxRootOfTool("/usr/bin/pmset");
    if (!root) {
        std::fputs("pmset: not installed in a sandboxed machine\n", stderr);
        return 1;
    }
    const MachineFiles files(*root);
    // Like the real tool, reading the settings needs no rights: the machine's lock is
    // root's, and the setting's file is replaced whole, so it reads safely without it.
    // Such reads are not counted and do not use up injected failures.
    if (::geteuid() != 0 && args.size() == 1 && args[0] == "-g") {
        return printSettings(files);
    }
    const MachineFiles::Lock lock(files);
    if (!lock.held()) {
        std::fputs("pmset: the machine's state folder is unavailable\n", stderr);
        return 1;
    }

    // Every call counts, also the failing ones: the counter is how a test tells
    // that a healthy watcher starts no process.
    files.writeInteger("power-calls", files.readInteger("power-calls", 0) + 1);
    if (const long long failing = files.readInteger("fail-power", 0); failing > 0) {
        files.writeInteger("fail-power", failing - 1);
        std::fputs("pmset: IOPMSetSystemPowerSetting failed: (iokit/common) general error\n",
                   stderr);
        return 1;
    }

    if (args.size() == 1 && args[0] == "-g") {
        return printSettings(files);
    }
    if (args.size() == 3 && args[0] == "-a" && args[1] == "disablesleep" &&
        (args[2] == "0" || args[2] == "1")) {
        if (!files.writeInteger("sleep-disabled", args[2] == "1" ? 1 : 0)) {
            std::fputs("pmset: could not store the power setting\n", stderr);
            return 1;
        }
        return 0;
    }
    if (args.size() == 1 && args[0] == "displaysleepnow") {
        files.writeInteger("display-sleeps", files.readInteger("display-sleeps", 0) + 1);
        return 0;
    }
    std::fputs(usage, stderr);
    return 1;
}
