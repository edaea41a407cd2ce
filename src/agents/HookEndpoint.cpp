#include "agents/HookEndpoint.hpp"

#include <cstdio>

namespace vesperon {

int hookEndpoint(const std::string& provider) {
    (void)provider;
    std::fputs("{}\n", stdout);
    return 0;
}

} // namespace vesperon
