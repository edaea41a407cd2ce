#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "agents/AgentTrackingRun.hpp"

namespace vesperon::bench {

// A sandboxed machine "<prefix>-XXXXXX" in the temporary folder with an empty home
// folder, named in VESPERON_SANDBOX for this process and the hook processes it
// starts; removed again at the end. A Linux build keeps its event files in the login
// session's runtime folder, which is in memory: there the sandbox is made in
// /dev/shm and named in XDG_RUNTIME_DIR as well, as a login session names its own.
class HookSandbox {
  public:
    explicit HookSandbox(const char* prefix)
        : path_((std::filesystem::path(parent()) / (std::string(prefix) + "-XXXXXX")).string()) {
        if (mkdtemp(path_.data()) == nullptr) {
            std::perror("mkdtemp");
            path_.clear();
            return;
        }
        std::filesystem::create_directory(path_ + "/home");
        setenv("VESPERON_SANDBOX", path_.c_str(), 1);
#if defined(VESPERON_PLATFORM_LINUX)
        setenv("XDG_RUNTIME_DIR", path_.c_str(), 1); // mkdtemp made it private
#endif
    }
    ~HookSandbox() {
        if (!path_.empty()) {
            std::filesystem::remove_all(path_);
        }
    }
    HookSandbox(const HookSandbox&) = delete;
    HookSandbox& operator=(const HookSandbox&) = delete;

    [[nodiscard]] bool ready() const {
        return !path_.empty();
    }
    [[nodiscard]] const std::string& path() const {
        return path_;
    }

    // Arms `run` for Claude Code: its run folder, or nothing after saying why.
    static std::optional<std::string> arm(AgentTrackingRun& run) {
        if (const auto armed = run.arm(std::string("claude")); !armed) {
            std::fprintf(stderr, "could not arm a run: %s\n", armed.error().message.c_str());
            return std::nullopt;
        }
        return run.rootFolder() + "/" + *run.runID();
    }

  private:
    static std::string parent() {
#if defined(VESPERON_PLATFORM_LINUX)
        return "/dev/shm";
#else
        return std::filesystem::temp_directory_path().string();
#endif
    }

    std::string path_;
};

} // namespace vesperon::bench
