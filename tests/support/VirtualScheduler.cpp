#include "VirtualScheduler.hpp"

#include <algorithm>

namespace vesperon::testing {

void VirtualScheduler::post(Task task) {
    std::lock_guard lock(postedMutex_);
    posted_.push_back(std::move(task));
}

Scheduler::TimerId VirtualScheduler::add(double seconds, double period, Task task) {
    timers_[nextId_] = Timer{now_ + seconds, period, std::move(task)};
    return nextId_++;
}

void VirtualScheduler::drain() {
    for (std::vector<Task> batch;; batch.clear()) {
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
    const auto earlier = [](const auto& a, const auto& b) { return a.second.due < b.second.due; };
    while (!timers_.empty()) {
        const auto next = std::min_element(timers_.begin(), timers_.end(), earlier);
        if (next->second.due > target) {
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
