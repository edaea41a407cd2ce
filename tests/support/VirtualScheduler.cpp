#include "VirtualScheduler.hpp"

#include <optional>

namespace vesperon::testing {

void VirtualScheduler::post(Task task) {
    std::lock_guard lock(postedMutex_);
    posted_.push_back(std::move(task));
}

Scheduler::TimerId VirtualScheduler::after(double seconds, Task task) {
    const TimerId id = nextId_++;
    timers_[id] = Timer{now_ + seconds, 0, std::move(task)};
    return id;
}

Scheduler::TimerId VirtualScheduler::every(double seconds, Task task) {
    const TimerId id = nextId_++;
    timers_[id] = Timer{now_ + seconds, seconds, std::move(task)};
    return id;
}

void VirtualScheduler::cancel(TimerId timer) {
    timers_.erase(timer);
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

std::optional<std::pair<Scheduler::TimerId, double>> VirtualScheduler::nextDue(double limit) const {
    std::optional<std::pair<TimerId, double>> best;
    for (const auto& [id, timer] : timers_) {
        if (timer.due <= limit && (!best || timer.due < best->second)) {
            best = std::pair{id, timer.due};
        }
    }
    return best;
}

void VirtualScheduler::advance(double seconds) {
    const double target = now_ + seconds;
    drain();
    while (auto due = nextDue(target)) {
        now_ = std::max(now_, due->second);
        auto it = timers_.find(due->first);
        Task task = it->second.task;
        if (it->second.period > 0) {
            it->second.due += it->second.period;
        } else {
            timers_.erase(it);
        }
        task();
        drain();
    }
    now_ = target;
}

std::size_t VirtualScheduler::pendingTimers() const {
    return timers_.size();
}

} // namespace vesperon::testing
