#pragma once

// Test helpers for agent tracking (folders come from TempFolder): small writers for
// descriptors and event files with chosen contents.
#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "FileContents.hpp"
#include "TempFolder.hpp"

namespace vesperon::testing {

// Writes `text` to `path` with the given permission bits (umask aside).
inline void writeFile(const std::string& path, const std::string& text, mode_t mode = 0600) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
    }
    chmod(path.c_str(), mode);
}

inline mode_t permissions(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return 07777;
    }
    return info.st_mode & 07777;
}

inline bool exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// Names in a folder, "." and ".." left out.
inline std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline double wallClock() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A process id that no process has any more: a child that has been reaped.
inline pid_t exitedProcessID() {
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

} // namespace vesperon::testing
