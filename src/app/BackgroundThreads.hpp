#pragma once

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace vesperon {

// Work that must not block the main thread (waiting for a child process). Each job
// runs on a thread of its own; finished threads are joined at the next start, and the
// destructor waits for every job still running, so no job outlives its owner.
class BackgroundThreads {
  public:
    BackgroundThreads() = default;
    ~BackgroundThreads();
    BackgroundThreads(const BackgroundThreads&) = delete;
    BackgroundThreads& operator=(const BackgroundThreads&) = delete;

    void start(std::function<void()> job);
    // Jobs started and not yet finished.
    std::size_t running() const;

  private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> finished{false};
    };
    void joinFinished();

    mutable std::mutex mutex_;
    std::list<std::unique_ptr<Worker>> workers_;
};

} // namespace vesperon
