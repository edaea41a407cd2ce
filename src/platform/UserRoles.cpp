#include "platform/UserRoles.hpp"

#include <cstdio>
#include <unistd.h>

namespace vesperon {

bool refusedAsRoot(const char* role) {
#if defined(VESPERON_PLATFORM_SANDBOX)
    (void)role;
    return false;
#else
    if (::geteuid() != 0) {
        return false;
    }
    std::fprintf(stderr, "vesperon: %s does not run as root; run it as the logged-in user.\n",
                 role);
    return true;
#endif
}

} // namespace vesperon
