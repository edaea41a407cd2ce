#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "common/Error.hpp"

namespace vesperon {

// Reads and replaces configuration files that belong to other programs and live in
// the user's home folder. A path is used only when it lies below the home folder and
// every part of it, the home folder included, is a real folder (the file itself a
// regular file) with no symbolic link anywhere. Files are size-limited. A
// replacement keeps a private backup of the previous content, is written to a
// private temporary file in the same folder with the old file's permissions, and
// is moved into place with one rename, but only if the file still holds exactly
// the bytes the new content was computed from.
//
// Errors: the connections domain with the user-facing sentence, or the system domain with
// errno as the code for other file-system failures.
class GuardedConfigFile {
  public:
    // Points in `write` where the file may change under us; tests use them to act
    // like an agent that rewrites its settings at the worst moment.
    enum class Checkpoint {
        BeforeFirstRecheck, // after the caller's read, before the first comparison
        BeforeFinalRecheck, // temporary file written, before the last comparison
    };
    using CheckpointHook = std::function<void(Checkpoint)>;

    GuardedConfigFile(std::string homeFolder, std::size_t maximumBytes);

    const std::string& homeFolder() const { return home_; }
    std::size_t maximumBytes() const { return maximumBytes_; }

    // The path is below the home folder and free of symbolic links and of anything
    // that is neither a folder nor (at the end) a regular file. Parts that do not
    // exist yet are fine.
    [[nodiscard]] Result<void> validate(const std::string& path) const;

    // The file's bytes, or nothing when it does not exist.
    [[nodiscard]] Result<std::optional<std::string>> read(const std::string& path) const;

    // Replaces the file with `data` if it still holds `existing` (nothing = must
    // still be absent). Missing folders are created private (0700). Returns false
    // when `data` equals `existing` and nothing had to be written.
    [[nodiscard]] Result<bool> write(const std::string& data, const std::string& path,
                                     const std::optional<std::string>& existing) const;

    void setCheckpointHook(CheckpointHook hook) { hook_ = std::move(hook); }

  private:
    [[nodiscard]] Result<void> createParentFolders(const std::string& path) const;
    [[nodiscard]] Result<void> unchangedSince(const std::string& path,
                                              const std::optional<std::string>& existing) const;
    void reach(Checkpoint point) const;

    std::string home_;
    std::size_t maximumBytes_;
    CheckpointHook hook_;
};

} // namespace vesperon
