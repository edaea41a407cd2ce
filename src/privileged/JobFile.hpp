#pragma once

#include <string>

#include "common/Error.hpp"
#include "platform/SystemLayout.hpp"

namespace vesperon {

// The recovery watcher's launchd job as an XML property list: the label, the
// watcher's own copy run with "--watch", started at load and at every boot, kept
// alive, restarted at most every 5 seconds.
[[nodiscard]] Result<std::string> jobFileXml(const SystemLayout& layout);

// Writes the job file to layout.jobPath atomically, mode 0644, owned by root.
[[nodiscard]] Result<void> writeJobFile(const SystemLayout& layout);

} // namespace vesperon
