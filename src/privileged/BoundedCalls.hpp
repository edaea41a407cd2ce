#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace vesperon {

// Runs work that may never return (a look into a folder on a filesystem that does not
// answer) on one helper thread, and waits for it at most a fixed bound. Work that is
// still running when the bound passes is left to finish on its own: later calls fail
// at once until it has, so a hung filesystem costs one thread, never more. The work
// must own everything it touches (capture by value, results in a shared_ptr), as it
// may outlive its caller's wait.
class BoundedCalls {
  public:
    explicit BoundedCalls(std::chrono::milliseconds bound);
    ~BoundedCalls();
    BoundedCalls(const BoundedCalls&) = delete;
    BoundedCalls& operator=(const BoundedCalls&) = delete;

    // True when `work` ran to its end within the bound; false when it did not (it may
    // still finish later), when earlier work is still running, or when no thread
    // could be started.
    [[nodiscard]] bool run(std::function<void()> work);

  private:
    struct Shared;
    std::chrono::milliseconds bound_;
    std::shared_ptr<Shared> shared_;
};

// The watcher's calls into the user's session folder (the stop file's and the
// heartbeat's attributes, the folder's watch), bounded at `userFolderBound`.
BoundedCalls& userFolderCalls();
inline constexpr std::chrono::milliseconds userFolderBound{2000};

} // namespace vesperon
