#pragma once

#include <string>

namespace vesperon::testing {

// The whole contents of the file at `path`, bytes as they are; empty when it cannot be read.
std::string readFile(const std::string& path);
// Replaces the file's contents; throws std::runtime_error when it cannot.
void writeFile(const std::string& path, const std::string& text);
// Whether anything is at `path`, a dangling link included.
bool pathExists(const std::string& path);

} // namespace vesperon::testing
