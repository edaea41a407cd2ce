#include "TempFolder.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace vesperon::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder(std::string_view prefix, const std::string& base, mode_t mode) {
    const fs::path parent = base.empty() ? fs::temp_directory_path() : fs::path(base);
    std::string pattern = (parent / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a folder " + pattern + ": " + std::strerror(errno));
    }
    path_ = fs::canonical(pattern).string();
    if (mode != 0700 && ::chmod(path_.c_str(), mode) != 0) {
        const int error = errno;
        ::rmdir(path_.c_str());
        throw std::runtime_error("cannot set the mode of " + path_ + ": " + std::strerror(error));
    }
}

TempFolder::~TempFolder() {
    // A test may have taken the owner's rights away from the folder itself.
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

} // namespace vesperon::testing
