#include "privileged/RootMode.hpp"

#include <cstdio>
#include <unistd.h>

#include "privileged/ProcessHardening.hpp"
#include "privileged/RestoreMode.hpp"
#include "privileged/SetupMode.hpp"
#include "privileged/SetupRequest.hpp"
#include "privileged/Watcher.hpp"

namespace vesperon {

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
            return setupMode(*request, args[0]);
        }
    }
    if (mode == "--restore") {
        return restoreMode();
    }
    if (mode == "--watch") {
        return watchMode();
    }
    return 1;
}

} // namespace vesperon
