#include "app/BackgroundThreads.hpp"

namespace vesperon {

BackgroundThreads::~BackgroundThreads() {
    std::list<std::unique_ptr<Worker>> workers;
    {
        std::lock_guard lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& worker : workers) {
        worker->thread.join();
    }
}

void BackgroundThreads::joinFinished() {
    std::list<std::unique_ptr<Worker>> finished;
    {
        std::lock_guard lock(mutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            if ((*it)->finished.load()) {
                finished.push_back(std::move(*it));
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& worker : finished) {
        worker->thread.join();
    }
}

void BackgroundThreads::start(std::function<void()> job) {
    joinFinished();
    auto worker = std::make_unique<Worker>();
    Worker* raw = worker.get();
    std::lock_guard lock(mutex_);
    // The thread starts under the lock, so the destructor never sees it half made.
    raw->thread = std::thread([raw, job = std::move(job)] {
        job();
        raw->finished.store(true);
    });
    workers_.push_back(std::move(worker));
}

std::size_t BackgroundThreads::running() const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& worker : workers_) {
        count += worker->finished.load() ? 0 : 1;
    }
    return count;
}

} // namespace vesperon
