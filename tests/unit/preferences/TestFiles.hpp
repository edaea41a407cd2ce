#pragma once

#include <fstream>
#include <iterator>
#include <string>

#include "FileContents.hpp"
#include "TempFolder.hpp"

namespace vesperon::testing {

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

} // namespace vesperon::testing
