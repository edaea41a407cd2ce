#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "common/Error.hpp"

namespace vesperon {

// Mode and owner a replaced file gets before it appears under its name.
struct FileAttributes {
    mode_t mode = 0600;
    std::optional<uid_t> owner;
    std::optional<gid_t> group;
};

// Runs when the new contents are on disk, just before they replace the target: a
// writer that must see the target unchanged checks it here, and an error it returns
// leaves the target as it was.
using BeforeReplace = std::function<Result<void>()>;

// Replaces `path` with `bytes`: the data goes to a temporary file in the same folder,
// is flushed to disk, gets `attributes` and is then renamed over the target, so a
// reader sees the old file or the whole new one, never a part. A temporary file is
// created 0600 and removed again on failure. Errors: the system domain with errno as
// the code, or what `beforeReplace` returned.
[[nodiscard]] Result<void> writeFileAtomically(const std::string& path, std::string_view bytes,
                                               const FileAttributes& attributes = {},
                                               const BeforeReplace& beforeReplace = {});

// The same for a copy of the regular file at `source`.
[[nodiscard]] Result<void> copyFileAtomically(const std::string& source, const std::string& target,
                                              const FileAttributes& attributes);

// How `writeFileAtomicallyAt` writes.
struct AtomicWrite {
    // Set on the open file; nothing: it keeps the 0600 it was created with (less what
    // the umask takes) and costs no call.
    std::optional<FileAttributes> attributes = FileAttributes{};
    // Flushes the file before the rename and the folder after it, so the new contents
    // survive a power cut. Without, a crash may leave an empty or missing file.
    bool durable = true;
    // The temporary file's name in the folder; empty: "." + name + "." + a fresh UUID.
    std::string temporaryName;
    BeforeReplace beforeReplace;
};

// Replaces the entry `name` of the open folder `folder` in the same way, with every
// step relative to that descriptor: a folder renamed or swapped for a link meanwhile
// cannot redirect the write. The temporary file is created exclusively, never through
// a link; an existing file of its name is an error. Messages name `name`.
[[nodiscard]] Result<void> writeFileAtomicallyAt(int folder, const std::string& name,
                                                 std::string_view bytes,
                                                 const AtomicWrite& how = {});

} // namespace vesperon
