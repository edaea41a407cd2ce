#include "RealTimeScheduler.hpp"

namespace vesperon::e2e {

namespace {
std::chrono::steady_clock::duration toDuration(double seconds) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds));
}
} // namespace

void RealTimeScheduler::post(Task task) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(task));
    }
    wake_.notify_one();
}

Scheduler::TimerId RealTimeScheduler::after(double seconds, Task task) {
    const TimerId id = nextId_++;
    timers_[id] = Timer{Clock::now() + toDuration(seconds), {}, std::move(task)};
    return id;
}

Scheduler::TimerId RealTimeScheduler::every(double seconds, Task task) {
    const TimerId id = nextId_++;
    timers_[id] = Timer{Clock::now() + toDuration(seconds), toDuration(seconds), std::move(task)};
    return id;
}

void RealTimeScheduler::cancel(TimerId timer) {
    timers_.erase(timer);
}

void RealTimeScheduler::runPosted() {
    for (;;) {
        std::vector<Task> batch;
        {
            std::lock_guard lock(mutex_);
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

bool RealTimeScheduler::runUntil(const std::function<bool()>& done, double seconds) {
    const Clock::time_point deadline = Clock::now() + toDuration(seconds);
    for (;;) {
        runPosted();
        // Every timer that is due, earliest first.
        for (;;) {
            auto next = timers_.end();
            for (auto it = timers_.begin(); it != timers_.end(); ++it) {
                if (it->second.due <= Clock::now() &&
                    (next == timers_.end() || it->second.due < next->second.due)) {
                    next = it;
                }
            }
            if (next == timers_.end()) {
                break;
            }
            Task task = next->second.task;
            if (next->second.period != Clock::duration::zero()) {
                next->second.due += next->second.period;
            } else {
                timers_.erase(next);
            }
            task();
            runPosted();
        }
        if (done()) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        Clock::time_point wakeAt = std::min(deadline, Clock::now() + std::chrono::milliseconds(50));
        for (const auto& [id, timer] : timers_) {
            wakeAt = std::min(wakeAt, timer.due);
        }
        std::unique_lock lock(mutex_);
        wake_.wait_until(lock, wakeAt, [this] { return !posted_.empty(); });
    }
}

} // namespace vesperon::e2e
