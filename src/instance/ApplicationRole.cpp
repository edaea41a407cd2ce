#include "instance/ApplicationRole.hpp"

#include <cstdio>
#include <string>
#include <vector>

#include "gui/GuiEntry.hpp"
#include "instance/AppInstance.hpp"
#include "platform/GuiModule.hpp"
#include "platform/UserRoles.hpp"

namespace vesperon {

int applicationRole(int argc, char** argv) {
    // Before anything of the user's (the instance folder) is touched.
    if (refusedAsRoot("the application")) {
        return 1;
    }
    const std::vector<std::string> urls(argv + (argc > 0 ? 1 : 0), argv + argc);
    auto outcome = claimOrHandOver(instanceFolderPath(), urls);
    if (!outcome) {
        std::fprintf(stderr, "vesperon: %s\n", outcome.error().message.c_str());
        return 1;
    }
    std::optional<InstanceClaim>& held = *outcome;
    if (!held) {
        return 0; // the running instance has the URLs
    }
    // This process is the instance: the lock stays held until it ends, and the module
    // takes over the listening socket.
    InstanceClaim& claim = *held;
    (void)claim.lock.release();
    return runGuiModule(VESPERON_GUI_APPLICATION, argc, argv, claim.listener.release());
}

} // namespace vesperon
