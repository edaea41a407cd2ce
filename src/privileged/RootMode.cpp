#include "privileged/RootMode.hpp"

#include <cstdio>
#include <unistd.h>

namespace vesperon {

int rootMode(const std::vector<std::string>& args) {
    if (::geteuid() != 0) {
        std::fputs("Administrator authorization required.\n", stderr);
        return 1;
    }
    (void)args;
    return 1;
}

} // namespace vesperon
