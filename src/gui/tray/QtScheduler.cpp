#include "gui/tray/QtScheduler.hpp"

#include <cmath>

namespace vesperon::gui {

QtScheduler::~QtScheduler() {
    for (auto& [id, timer] : timers_) {
        delete timer;
    }
}

void QtScheduler::post(Task task) {
    QMetaObject::invokeMethod(&context_, std::move(task), Qt::QueuedConnection);
}

Scheduler::TimerId QtScheduler::after(double seconds, Task task) {
    return start(seconds, false, std::move(task));
}

Scheduler::TimerId QtScheduler::every(double seconds, Task task) {
    return start(seconds, true, std::move(task));
}

void QtScheduler::cancel(TimerId timer) {
    if (auto found = timers_.find(timer); found != timers_.end()) {
        found->second->stop();
        found->second->deleteLater();
        timers_.erase(found);
    }
}

Scheduler::TimerId QtScheduler::start(double seconds, bool repeating, Task task) {
    const TimerId id = nextId_++;
    auto* timer = new QTimer(&context_);
    timer->setSingleShot(!repeating);
    // Precise timers: a 2-second tick stays a 2-second tick.
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(static_cast<int>(std::lround(std::max(0.0, seconds) * 1000)));
    QObject::connect(timer, &QTimer::timeout, &context_,
                     [this, id, repeating, task = std::move(task)] {
                         if (!repeating) {
                             // Forgotten before it runs, so the task may schedule or cancel freely.
                             if (auto found = timers_.find(id); found != timers_.end()) {
                                 found->second->deleteLater();
                                 timers_.erase(found);
                             }
                         }
                         task();
                     });
    timers_.emplace(id, timer);
    timer->start();
    return id;
}

} // namespace vesperon::gui
