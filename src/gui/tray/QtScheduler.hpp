#pragma once

#include <QObject>
#include <QTimer>
#include <map>

#include "common/Scheduler.hpp"

namespace vesperon::gui {

// The application's main queue on Qt's event loop. Timers are Qt timers of the main
// thread, so they keep firing inside the nested loops of modal dialogs and menus;
// posts from other threads are queued events for the main thread.
class QtScheduler final : public Scheduler {
  public:
    QtScheduler() = default;
    ~QtScheduler() override;
    QtScheduler(const QtScheduler&) = delete;
    QtScheduler& operator=(const QtScheduler&) = delete;

    void post(Task task) override;
    TimerId after(double seconds, Task task) override;
    TimerId every(double seconds, Task task) override;
    void cancel(TimerId timer) override;

  private:
    TimerId start(double seconds, bool repeating, Task task);

    QObject context_; // lives on the main thread; posted tasks run in its thread
    TimerId nextId_ = 1;
    std::map<TimerId, QTimer*> timers_;
};

} // namespace vesperon::gui
