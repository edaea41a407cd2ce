#pragma once

#include <memory>
#include <utility>

#include "common/Scheduler.hpp"

namespace vesperon {

// How an object of the main thread lets timers, answers and other threads call it
// back without outliving it. The object keeps one MainQueue as a member; every
// callable made here does nothing once that member (and so its owner) is gone.
class MainQueue {
  public:
    explicit MainQueue(Scheduler& scheduler)
        : scheduler_(scheduler), alive_(std::make_shared<char>()) {}
    MainQueue(const MainQueue&) = delete;
    MainQueue& operator=(const MainQueue&) = delete;

    Scheduler& scheduler() const { return scheduler_; }

    // `work`, run only while the owner exists. For callers that already run on the
    // main thread (the scheduler's timers, answers delivered on the main queue).
    template <class Work> [[nodiscard]] auto whileAlive(Work work) const {
        return [alive = std::weak_ptr<char>(alive_), work = std::move(work)](auto&&... args) {
            if (!alive.expired()) {
                work(std::forward<decltype(args)>(args)...);
            }
        };
    }

    // A callable that may be called from any thread: it hands `work` and its arguments
    // to the main queue, where it runs only while the owner exists.
    template <class Work> [[nodiscard]] auto later(Work work) const {
        return [&scheduler = scheduler_, guarded = whileAlive(std::move(work))](auto... args) {
            scheduler.post([guarded, ... args = std::move(args)]() mutable { guarded(args...); });
        };
    }

  private:
    Scheduler& scheduler_;
    std::shared_ptr<char> alive_;
};

} // namespace vesperon
