#include "privileged/RootMode.hpp"

#include <cstdio>
#include <unistd.h>

#include "platform/SystemLayout.hpp"
#include "privileged/ProcessHardening.hpp"
#include "privileged/RestoreMode.hpp"
#include "privileged/SetupMode.hpp"
#include "privileged/SetupRequest.hpp"
#include "privileged/Watcher.hpp"

namespace vesperon {
namespace {

// Whether the layout is one that root may act on; says why not when it is not.
bool actsOnMachine() {
    if (const auto problem = rootLayoutProblem()) {
        const std::string line = *problem + "\n";
        std::fputs(line.c_str(), stderr);
        return false;
    }
    return true;
}

} // namespace

int rootMode(const std::vector<std::string>& args) {
    if (::geteuid() != 0) {
        std::fputs("Administrator authorization required.\n", stderr);
        return 1;
    }
    if (args.size() <= 1) {
        return 1;
    }
    hardenRootProcess();
    const std::string& mode = args[1];
    if (mode == "--setup") {
        if (const auto request = SetupRequest::parse(args)) {
            return actsOnMachine() ? setupMode(*request) : 1;
        }
    }
    if (mode == "--restore") {
        return actsOnMachine() ? restoreMode() : 1;
    }
    if (mode == "--watch") {
        return actsOnMachine() ? watchMode() : 1;
    }
    return 1;
}

} // namespace vesperon
