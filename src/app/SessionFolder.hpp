#pragma once

#include <string>

#include "common/Error.hpp"

namespace vesperon {

// The private folder of one session attempt, "Vesperon-" + UUID in the user's
// temporary folder, through which the application talks to the recovery watcher:
// the heartbeat file whose modification date says the application is alive, and the
// stop file whose appearance ends the session.
class SessionFolder {
  public:
    // Creates the folder (mode 0700, the parent must exist) with an empty heartbeat
    // file. A folder whose heartbeat cannot be written is removed again.
    [[nodiscard]] static Result<SessionFolder> create(const std::string& temporaryDirectory);

    const std::string& path() const { return path_; }
    std::string heartbeatPath() const { return path_ + "/heartbeat"; }
    std::string stopPath() const { return path_ + "/stop"; }

    // Sets the heartbeat's modification date to now; fails when the file is gone.
    [[nodiscard]] Result<void> renewHeartbeat() const;
    // Writes the stop file, empty, replacing any earlier one.
    [[nodiscard]] Result<void> writeStop() const;
    // Removes the folder and everything in it; failures are ignored.
    void remove() const;

  private:
    explicit SessionFolder(std::string path) : path_(std::move(path)) {}
    std::string path_;
};

} // namespace vesperon
