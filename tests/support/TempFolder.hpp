#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

namespace vesperon::testing {

// A fresh folder "<prefix>-XXXXXX" (mkdtemp) under `base` (default: the system's temporary
// folder) with permission bits `mode`, removed with its contents when the object goes. Its
// path is canonical. Throws std::runtime_error when it cannot be made.
class TempFolder {
  public:
    explicit TempFolder(std::string_view prefix = "vesperon-test", const std::string& base = {},
                        mode_t mode = 0700) {
        const auto parent =
            base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base);
        std::string pattern = (parent / (std::string(prefix) + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr || ::chmod(pattern.c_str(), mode) != 0) {
            throw std::runtime_error("cannot make " + pattern + ": " + std::strerror(errno));
        }
        path_ = std::filesystem::canonical(pattern).string();
    }
    ~TempFolder() {
        // A test may have taken the owner's rights away from the folder itself.
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(std::string_view relative) const {
        return std::string(path_).append("/").append(relative);
    }

  private:
    std::string path_;
};

} // namespace vesperon::testing
