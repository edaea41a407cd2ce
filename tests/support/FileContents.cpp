#include "FileContents.hpp"

#include <fstream>
#include <iterator>

namespace vesperon::testing {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace vesperon::testing
