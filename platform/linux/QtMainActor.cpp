#include "QtMainActor.h"

#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <QMetaObject>
#include <algorithm>
#include <cmath>
#include <stdexcept>

QtMainActor::QtMainActor() {
    timerFd_ = timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timerFd_ < 0) {
        throw std::runtime_error("timerfd_create(CLOCK_BOOTTIME) failed");
    }
    timerNotifier_ = std::make_unique<QSocketNotifier>(timerFd_, QSocketNotifier::Read);
    QObject::connect(timerNotifier_.get(), &QSocketNotifier::activated, &queueContext_,
                     [this] { fireDueTimers(); });
}

QtMainActor::~QtMainActor() {
    destroyUnfinishedTasks();
    timerNotifier_.reset();
    timers_.clear();
    close(timerFd_);
}

Instant QtMainActor::now() const {
    return std::chrono::time_point_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now());
}

void QtMainActor::post(std::function<void()> job) {
    QMetaObject::invokeMethod(&queueContext_, std::move(job), Qt::QueuedConnection);
}

MainActor::TimerId QtMainActor::startTimer(double seconds, std::function<void()> fire) {
    const double wait = std::isfinite(seconds) ? std::clamp(seconds, 0.0, 1e9) : 1e9;
    const auto deadline = bootTimeNow() + std::chrono::round<std::chrono::nanoseconds>(
                                              std::chrono::duration<double>(wait));
    const TimerId timer = timers_.add(deadline, std::move(fire));
    armForNextDeadline();
    return timer;
}

void QtMainActor::stopTimer(TimerId timer) {
    timers_.remove(timer);
    armForNextDeadline();
}

TimerQueue::Deadline QtMainActor::bootTimeNow() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

void QtMainActor::fireDueTimers() {
    std::uint64_t expirations = 0;
    [[maybe_unused]] const auto ignored = read(timerFd_, &expirations, sizeof expirations);
    while (auto fire = timers_.takeDue(bootTimeNow())) {
        (*fire)();
    }
    armForNextDeadline();
}

void QtMainActor::armForNextDeadline() {
    itimerspec setting{};
    if (const auto next = timers_.nextDeadline()) {
        // An all-zero value would disarm the timer, so a deadline already past becomes 1 ns.
        const auto at = std::max(*next, std::chrono::nanoseconds(1));
        setting.it_value.tv_sec = static_cast<time_t>(at.count() / 1'000'000'000);
        setting.it_value.tv_nsec = static_cast<long>(at.count() % 1'000'000'000);
    }
    timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &setting, nullptr);
}
