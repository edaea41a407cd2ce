#include "FileContents.hpp"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>

namespace vesperon::testing {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& text) {
    if (!(std::ofstream(path, std::ios::binary | std::ios::trunc) << text)) {
        throw std::runtime_error("could not write " + path);
    }
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

} // namespace vesperon::testing
