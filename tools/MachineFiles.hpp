#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesperon::tools {

// The folder of a sandboxed machine's state (DIR/machine): probe readings, the power
// setting and the counters the stand-in tools keep. Every read-modify-write happens
// under one exclusive lock, because tools may run concurrently.
class MachineFiles {
  public:
    explicit MachineFiles(std::string sandboxRoot);

    const std::string& root() const { return root_; }
    std::string path(std::string_view name) const;

    // Holds the machine folder's lock for its lifetime.
    class Lock {
      public:
        explicit Lock(const MachineFiles& files);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
        bool held() const { return fd_ >= 0; }

      private:
        int fd_ = -1;
    };

    // A small file's text with trailing blanks removed; nothing when absent or oversized.
    std::optional<std::string> readText(std::string_view name) const;
    // A whole decimal integer from a file; `fallback` when absent or malformed.
    long long readInteger(std::string_view name, long long fallback) const;
    // Replaces a file atomically (temporary file, then rename). False on failure.
    bool writeText(std::string_view name, std::string_view text) const;
    bool writeInteger(std::string_view name, long long value) const;

  private:
    std::string root_;
};

// The sandboxed machine a copied stand-in tool belongs to: the tool lives at
// DIR + `installedPath` (for example "/usr/bin/pmset"), so DIR is what precedes it.
// Falls back to VESPERON_SANDBOX when the tool runs from elsewhere.
std::optional<std::string> sandboxRootOfTool(std::string_view installedPath);

// A fresh version-4 UUID in upper-case text, from the kernel's random source.
std::string makeUuid();

// Seconds on the clock that counts suspend (platform/SuspendCountingClock.hpp).
double bootClockSeconds();

// Wall-clock seconds since 1970.
double wallClockSeconds();

} // namespace vesperon::tools
