#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

#include "MainActor.h"
#include "TimerQueue.h"

// The main actor on the Qt event loop of the GUI thread. Its timers wait on CLOCK_BOOTTIME
// through one timerfd, so a wait keeps counting while the machine sleeps.
class QtMainActor final : public MainActor {
public:
    QtMainActor();
    ~QtMainActor() override;

    Instant now() const override;
    void post(std::function<void()> job) override;
    TimerId startTimer(double seconds, std::function<void()> fire) override;
    void stopTimer(TimerId timer) override;

private:
    static TimerQueue::Deadline bootTimeNow();
    void fireDueTimers();
    void armForNextDeadline();

    QObject queueContext_;
    int timerFd_ = -1;
    std::unique_ptr<QSocketNotifier> timerNotifier_;
    TimerQueue timers_;
};
