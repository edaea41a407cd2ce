#pragma once

#include <string>

namespace vesperon::testing {

// The whole contents of the file at `path`, bytes as they are; empty when it cannot be read.
std::string readFile(const std::string& path);

} // namespace vesperon::testing
