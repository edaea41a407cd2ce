// Stand-in for the service tool on a sandboxed machine: passes its command to the
// machine's service manager (launchd-standin) and prints its answer.
//   launchctl bootstrap system PLIST | bootout system/LABEL | print system/LABEL | reboot
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "MachineFiles.hpp"
#include "SupervisorProtocol.hpp"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const auto root = vesperon::tools::sandboxRootOfTool("/bin/launchctl");
    if (!root) {
        std::fputs("launchctl: not installed in a sandboxed machine\n", stderr);
        return 1;
    }
    // The service manager reads the job file itself: hand it an absolute path.
    if (args.size() == 3 && args[0] == "bootstrap" && !args[2].empty() && args[2][0] != '/') {
        if (char* resolved = ::realpath(args[2].c_str(), nullptr)) {
            args[2] = resolved;
            std::free(resolved);
        }
    }
    const auto reply = vesperon::tools::askSupervisor(*root, args, 60);
    if (!reply) {
        std::fprintf(stderr, "launchctl: %s\n", reply.error().c_str());
        return 1;
    }
    std::fputs(reply->text.c_str(), reply->status == 0 ? stdout : stderr);
    return reply->status;
}
