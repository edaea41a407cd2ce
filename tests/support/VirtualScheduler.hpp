#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "common/Scheduler.hpp"

namespace vesperon::testing {

// A main loop on a virtual clock: time moves only when a test calls advance().
// Posted tasks (also from other threads) run at the next advance() or drain().
class VirtualScheduler final : public Scheduler {
  public:
    void post(Task task) override;
    TimerId after(double seconds, Task task) override { return add(seconds, 0, std::move(task)); }
    TimerId every(double seconds, Task task) override {
        return add(seconds, seconds, std::move(task));
    }
    void cancel(TimerId timer) override { timers_.erase(timer); }

    // Runs posted tasks until none is left.
    void drain();
    // Moves the clock forward by `seconds`, running every timer that falls due, in
    // order of due time, and the tasks they post.
    void advance(double seconds);
    double now() const { return now_; }
    std::size_t pendingTimers() const { return timers_.size(); }

  private:
    TimerId add(double seconds, double period, Task task);
    struct Timer {
        double due;
        double period; // 0 for one-shot timers
        Task task;
    };
    double now_ = 0;
    TimerId nextId_ = 1;
    std::map<TimerId, Timer> timers_;
    mutable std::mutex postedMutex_;
    std::vector<Task> posted_;
};

} // namespace vesperon::testing
