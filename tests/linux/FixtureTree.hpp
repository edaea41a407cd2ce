#pragma once

#include <string>
#include <vector>

#include "FileContents.hpp"
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
            const std::size_t equals = attribute.find('=');
            writeFile(folder / attribute.substr(0, equals), attribute.substr(equals + 1) + "\n");
        }
    }
    const std::string& root() const { return folder.path(); }
    TempFolder folder{"vesperon-sysfs"};
};

} // namespace vesperon::testing
