#include "privileged/Diagnose.hpp"

#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "platform/RootServices.hpp"
#include "platform/SystemLayout.hpp"
#include "platform/SystemProbes.hpp"

namespace vesperon {
namespace {

const char* flag(bool value) {
    return value ? "true" : "false";
}

std::string optionalFlag(const std::optional<bool>& value) {
    if (!value) {
        return "nil";
    }
    return *value ? "Optional(true)" : "Optional(false)";
}

} // namespace

int diagnose() {
    // Which machine the facts come from goes to standard error, so that standard
    // output stays exactly the five lines.
    std::fprintf(stderr, "%s\n", machineDescription().c_str());

    const bool battery = batterySafe();
    const int thermal = thermalState();
    const std::optional<bool> override = sleepDisabled();
    const bool lid = lidClosed();
    // A job can stay loaded after its file is gone (a watcher ended between removing
    // its files and unloading itself); that is a job all the same.
    struct stat info {};
    const bool jobExists = ::stat(systemLayout().jobPath.c_str(), &info) == 0 ||
                           recoveryServiceState() == ServiceState::Loaded;

    std::printf("Battery above cutoff or charger connected: %s\n", flag(battery));
    std::printf("Thermal state: %d\n", thermal);
    std::printf("Sleep override: %s\n", optionalFlag(override).c_str());
    std::printf("Lid closed: %s\n", flag(lid));
    std::printf("Recovery job exists: %s\n", flag(jobExists));
    std::fflush(stdout);
    return 0;
}

} // namespace vesperon
