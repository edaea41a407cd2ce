#pragma once

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace vesperon {

// Keeps other processes of the same user from attaching to this one or reading its
// memory; nothing where the system has no such switch (a process that changed its
// user is already protected there).
inline void forbidInspection() {
#if defined(__linux__)
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

} // namespace vesperon
