#include "privileged/BoundedCalls.hpp"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace vesperon {

// What the caller and the helper thread share; the thread keeps it alive, so that a
// thread stuck past its owner's end touches nothing that is gone.
struct BoundedCalls::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> work; // handed over, not yet taken
    bool busy = false;          // work handed over and not yet finished
    bool quit = false;
    std::uint64_t finished = 0; // how many pieces of work have ended
    bool started = false;

    void serve() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return quit || work; });
            if (!work) {
                return;
            }
            std::function<void()> next = std::move(work);
            work = nullptr;
            lock.unlock();
            next();
            next = nullptr;
            lock.lock();
            busy = false;
            ++finished;
            changed.notify_all();
        }
    }
};

BoundedCalls::BoundedCalls(std::chrono::milliseconds bound)
    : bound_(bound), shared_(std::make_shared<Shared>()) {}

BoundedCalls::~BoundedCalls() {
    const std::lock_guard lock(shared_->mutex);
    shared_->quit = true;
    shared_->changed.notify_all();
}

bool BoundedCalls::run(std::function<void()> work) {
    std::unique_lock lock(shared_->mutex);
    if (shared_->busy) {
        return false;
    }
    if (!shared_->started) {
        try {
            std::thread([shared = shared_] { shared->serve(); }).detach();
        } catch (const std::system_error&) {
            return false;
        }
        shared_->started = true;
    }
    shared_->work = std::move(work);
    shared_->busy = true;
    const std::uint64_t mine = shared_->finished + 1;
    shared_->changed.notify_all();
    return shared_->changed.wait_for(lock, bound_, [&] { return shared_->finished >= mine; });
}

BoundedCalls& userFolderCalls() {
    // Never destroyed: a helper thread stuck in a filesystem may outlive main().
    static auto* const calls = new BoundedCalls(userFolderBound);
    return *calls;
}

} // namespace vesperon
