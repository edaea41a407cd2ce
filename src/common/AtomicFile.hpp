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
// created 0600 and removed again on failure. Errors: the file domain with errno as
// the code, or what `beforeReplace` returned.
[[nodiscard]] Result<void> writeFileAtomically(const std::string& path, std::string_view bytes,
                                               const FileAttributes& attributes = {},
                                               const BeforeReplace& beforeReplace = {});

// The same for a copy of the regular file at `source`.
[[nodiscard]] Result<void> copyFileAtomically(const std::string& source, const std::string& target,
                                              const FileAttributes& attributes);

} // namespace vesperon
