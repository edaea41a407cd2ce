#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "TempFolder.hpp"

namespace vesperon::testing {

// A small sysfs-like tree: attribute files written as the kernel shows them.
class FixtureTree {
  public:
    const std::string& root() const { return folder_.path(); }

    // Writes `value` and a line feed to root/relative, making the folders on the way.
    void attribute(const std::string& relative, const std::string& value) const {
        const std::filesystem::path path = folder_.file(relative);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << value << '\n';
    }

  private:
    TempFolder folder_{"vesperon-sysfs"};
};

} // namespace vesperon::testing
