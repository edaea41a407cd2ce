#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "FileContents.hpp"
#include "TempFolder.hpp"

namespace vesperon::testing {

inline mode_t permissions(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 07777;
}

inline std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The folder holding the command of a real agent from npm, or empty when it is not
// installed: under VESPERON_AGENT_PACKAGES (default ~/.cache/vesperon-agents), e.g.
//   npm install --prefix ~/.cache/vesperon-agents/codex @openai/codex@0.169.0
// and likewise claude (@anthropic-ai/claude-code@2.1.328), opencode (opencode-ai@1.18.33).
inline std::string agentBinFolder(const std::string& agent) {
    const char* packages = std::getenv("VESPERON_AGENT_PACKAGES");
    const char* home = std::getenv("HOME");
    const std::string base =
        packages ? packages : std::string(home ? home : "") + "/.cache/vesperon-agents";
    const std::string folder = base + "/" + agent + "/node_modules/.bin";
    return ::access((folder + "/" + agent).c_str(), X_OK) == 0 ? folder : std::string();
}

} // namespace vesperon::testing
