#pragma once

#include <string>
#include <string_view>

#include <sys/types.h>

namespace vesperon::testing {

// A fresh folder "<prefix>-XXXXXX" under `base` (the system's temporary folder when
// empty) with permission bits `mode`, made by mkdtemp so that no other test shares it,
// and removed with everything in it when the object goes. Its path is canonical, so it
// equals what a process working inside it reports. Throws std::runtime_error when the
// folder cannot be made.
class TempFolder {
  public:
    explicit TempFolder(std::string_view prefix = "vesperon-test", const std::string& base = {},
                        mode_t mode = 0700);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string file(std::string_view relative) const {
        return std::string(path_).append("/").append(relative);
    }
    std::string operator/(std::string_view relative) const { return file(relative); }

  private:
    std::string path_;
};

} // namespace vesperon::testing
