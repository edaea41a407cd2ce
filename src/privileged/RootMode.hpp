#pragma once

#include <string>
#include <vector>

namespace vesperon {

// The root modes "--setup", "--restore" and "--watch" with their checks, in order:
// effective user root, an argument to look at, then the mode; a "--setup" whose
// arguments are invalid, and an unknown mode, end silently with status 1. Returns
// the exit status.
int rootMode(const std::vector<std::string>& args);

} // namespace vesperon
