#include "privileged/Diagnose.hpp"

#include <cstdio>

#include "platform/SystemLayout.hpp"

namespace vesperon {

int diagnose() {
    std::fprintf(stderr, "%s\n", machineDescription().c_str());
    return 0;
}

} // namespace vesperon
