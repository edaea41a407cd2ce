#include "instance/ApplicationRole.hpp"

#include <cstdio>

#include "instance/AppInstance.hpp"

namespace vesperon {

int applicationRole(const std::vector<std::string>& args) {
    const std::vector<std::string> urls(args.begin() + (args.empty() ? 0 : 1), args.end());
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
    std::fprintf(stderr, "vesperon: the menu-bar application is not part of this build.\n");
    return 1;
}

} // namespace vesperon
