#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TempFolder.hpp"

namespace vesperon::testing {

using Files = std::vector<std::string>;

inline Files operator+(Files a, const Files& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A small sysfs-like tree of attribute files, each given as "relative/path=value" and
// written with a line feed, as the kernel shows them.
struct FixtureTree {
    explicit FixtureTree(const Files& attributes) {
        for (const std::string& attribute : attributes) {
            const std::filesystem::path path = folder / attribute.substr(0, attribute.find('='));
            std::filesystem::create_directories(path.parent_path());
            std::ofstream(path) << attribute.substr(attribute.find('=') + 1) << '\n';
        }
    }
    const std::string& root() const { return folder.path(); }
    TempFolder folder{"vesperon-sysfs"};
};

} // namespace vesperon::testing
