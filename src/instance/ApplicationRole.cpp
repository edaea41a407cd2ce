#include "instance/ApplicationRole.hpp"

#include <cstdio>
#include <string>
#include <vector>

#include "gui/GuiEntry.hpp"
#include "instance/AppInstance.hpp"
#include "platform/GuiModule.hpp"

namespace vesperon {

int applicationRole(int argc, char** argv) {
    const std::vector<std::string> urls(argv + (argc > 0 ? 1 : 0), argv + argc);
    auto outcome = claimOrHandOver(instanceFolderPath(), urls);
    if (!outcome) {
        std::fprintf(stderr, "vesperon: %s\n", outcome.error().message.c_str());
        return 1;
    }
    if (!*outcome) {
        return 0; // the running instance has the URLs
    }
    // This process is the instance: the lock stays held until it ends, and the module
    // takes over the listening socket.
    InstanceClaim& claim = **outcome;
    (void)claim.lock.release();
    return runGuiModule(VESPERON_GUI_APPLICATION, argc, argv, claim.listener.release());
}

} // namespace vesperon
