#include "VirtualScheduler.hpp"

#include <algorithm>

namespace vesperon::testing {

void VirtualScheduler::post(Task task) {
    std::lock_guard lock(postedMutex_);
    posted_.push_back(std::move(task));
}

Scheduler::TimerId VirtualScheduler::after(double seconds, Task task) {
    timers_[nextId_] = Timer{now_ + seconds, 0, std::move(task)};
    return nextId_++;
}

Scheduler::TimerId VirtualScheduler::every(double seconds, Task task) {
    timers_[nextId_] = Timer{now_ + seconds, seconds, std::move(task)};
    return nextId_++;
}

void VirtualScheduler::drain() {
    for (;;) {
        std::vector<Task> batch;
        {
            std::lock_guard lock(postedMutex_);
            batch.swap(posted_);
        }
        if (batch.empty()) {
            return;
        }
        for (Task& task : batch) {
            task();
        }
    }
}

void VirtualScheduler::advance(double seconds) {
    const double target = now_ + seconds;
    drain();
    for (;;) {
        auto next = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->second.due <= target &&
                (next == timers_.end() || it->second.due < next->second.due)) {
                next = it;
            }
        }
        if (next == timers_.end()) {
            break;
        }
        now_ = std::max(now_, next->second.due);
        Task task = next->second.task;
        if (next->second.period > 0) {
            next->second.due += next->second.period;
        } else {
            timers_.erase(next);
        }
        task();
        drain();
    }
    now_ = target;
}

} // namespace vesperon::testing
