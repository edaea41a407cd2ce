#pragma once

#include <string>
#include <sys/types.h>

namespace vesperon::testing {

// The whole contents of the file at `path`, bytes as they are; empty when it cannot be read.
std::string readFile(const std::string& path);
// Writes `text` to `path` (making its folder) with the permission bits `mode`.
void writeFile(const std::string& path, const std::string& text, mode_t mode = 0600);
// Whether anything is at `path`, a dangling link included.
bool pathExists(const std::string& path);

} // namespace vesperon::testing
