// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/timerfd.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>

#include "platform/MainActor.h"
#include "platform/TimerQueue.h"

class SystemLog;

// The main actor on the Qt event loop of the GUI thread. Its timers wait on CLOCK_BOOTTIME
// through one timerfd, so a wait keeps counting while the machine sleeps. Should the timerfd
// fail, the deadlines go to a Qt timer instead (which does not count the machine's sleep): the
// failure is logged once and no deadline is lost.
class QtMainActor final : public MainActor {
public:
    // Sets the timerfd to the absolute setting, or returns false with errno set.
    using ArmTimer = std::function<bool(int fd, const itimerspec& setting)>;

    // `faultLog` hears of a failing timerfd; `armTimer` replaces timerfd_settime in tests.
    explicit QtMainActor(SystemLog* faultLog = nullptr, ArmTimer armTimer = {});
    ~QtMainActor() override;

    Instant now() const override;
    void post(std::function<void()> job) override;
    TimerId startTimer(double seconds, std::function<void()> fire) override;
    void stopTimer(TimerId timer) override;

private:
    static TimerQueue::Deadline bootTimeNow();
    void fireDueTimers();
    void armForNextDeadline();
    void armFallback(TimerQueue::Deadline next, int error);

    QObject queueContext_;
    SystemLog* faultLog_;
    ArmTimer armTimer_;
    int timerFd_ = -1;
    int timerFdError_ = 0;
    std::unique_ptr<QSocketNotifier> timerNotifier_;
    QTimer fallbackTimer_;
    bool fallbackLogged_ = false;
    TimerQueue timers_;
};
