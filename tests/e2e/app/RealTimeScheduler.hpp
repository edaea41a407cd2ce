#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "common/Scheduler.hpp"

namespace vesperon::e2e {

// A main loop on the real clock, run by the test's thread for as long as it waits
// for something. Posts may come from any thread.
class RealTimeScheduler final : public Scheduler {
  public:
    void post(Task task) override;
    TimerId after(double seconds, Task task) override;
    TimerId every(double seconds, Task task) override;
    void cancel(TimerId timer) override;

    // Runs the loop until `done` holds or `seconds` have passed; returns `done()`.
    bool runUntil(const std::function<bool()>& done, double seconds);

  private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        Clock::time_point due;
        Clock::duration period{}; // zero for one-shot timers
        Task task;
    };
    void runPosted();

    TimerId nextId_ = 1;
    std::map<TimerId, Timer> timers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Task> posted_;
};

} // namespace vesperon::e2e
