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
    auto outcome = claimInstance(instanceFolderPath());
    if (!outcome) {
        std::fprintf(stderr, "vesperon: %s\n", outcome.error().message.c_str());
        return 1;
    }
    if (const auto* running = std::get_if<InstanceRunning>(&*outcome)) {
        if (auto delivered = handOverURLs(running->socketPath, urls); !delivered) {
            std::fprintf(stderr, "vesperon: %s\n", delivered.error().message.c_str());
            return 1;
        }
        return 0;
    }
    // This process is the instance: the lock stays held until it ends, and the module
    // takes over the listening socket.
    auto& claim = std::get<InstanceClaim>(*outcome);
    (void)claim.lock.release();
    return runGuiModule(VESPERON_GUI_APPLICATION, argc, argv, claim.listener.release());
}

} // namespace vesperon
