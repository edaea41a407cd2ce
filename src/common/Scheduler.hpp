#pragma once

#include <cstdint>
#include <functional>

namespace vesperon {

// The application's main loop as the app-side components see it. Everything posted
// or scheduled here runs on the main thread, one task at a time, and a timer keeps
// firing while a modal alert or menu is open. Implementations drive it from the
// process's event loop; time may be virtual (a test moves it by hand).
class Scheduler {
  public:
    using Task = std::function<void()>;
    using TimerId = std::uint64_t; // 0 is never a valid timer

    virtual ~Scheduler() = default;

    // Runs `task` on the main queue soon, after the current task. Safe to call from
    // any thread: this is how work finished elsewhere hands its result back.
    virtual void post(Task task) = 0;
    // Runs `task` once, `seconds` from now.
    virtual TimerId after(double seconds, Task task) = 0;
    // Runs `task` every `seconds` until cancelled.
    virtual TimerId every(double seconds, Task task) = 0;
    // Stops a pending or repeating timer; unknown or finished timers are ignored.
    virtual void cancel(TimerId timer) = 0;
};

} // namespace vesperon
