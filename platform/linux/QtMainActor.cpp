// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/QtMainActor.h"

#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <QMetaObject>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

#include "platform/SystemLog.h"

QtMainActor::QtMainActor(SystemLog* faultLog, ArmTimer armTimer)
    : faultLog_(faultLog), armTimer_(std::move(armTimer)) {
    if (!armTimer_) {
        armTimer_ = [](int fd, const itimerspec& setting) {
            return timerfd_settime(fd, TFD_TIMER_ABSTIME, &setting, nullptr) == 0;
        };
    }
    fallbackTimer_.setSingleShot(true);
    fallbackTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&fallbackTimer_, &QTimer::timeout, &queueContext_,
                     [this] { fireDueTimers(); });
    timerFd_ = timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timerFd_ < 0) {
        timerFdError_ = errno;
    } else {
        timerNotifier_ = std::make_unique<QSocketNotifier>(timerFd_, QSocketNotifier::Read);
        QObject::connect(timerNotifier_.get(), &QSocketNotifier::activated, &queueContext_,
                         [this] { fireDueTimers(); });
    }
}

QtMainActor::~QtMainActor() {
    destroyUnfinishedTasks();
    timerNotifier_.reset();
    fallbackTimer_.stop();
    timers_.clear();
    if (timerFd_ >= 0) {
        close(timerFd_);
    }
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
    if (timerFd_ >= 0) {
        [[maybe_unused]] const auto ignored = read(timerFd_, &expirations, sizeof expirations);
    }
    while (auto fire = timers_.takeDue(bootTimeNow())) {
        (*fire)();
    }
    armForNextDeadline();
}

void QtMainActor::armForNextDeadline() {
    itimerspec setting{};
    const auto next = timers_.nextDeadline();
    if (next) {
        // An all-zero value would disarm the timer, so a deadline already past becomes 1 ns.
        const auto at = std::max(*next, std::chrono::nanoseconds(1));
        setting.it_value.tv_sec = static_cast<time_t>(at.count() / 1'000'000'000);
        setting.it_value.tv_nsec = static_cast<long>(at.count() % 1'000'000'000);
    }
    const bool armed = timerFd_ >= 0 && armTimer_(timerFd_, setting);
    if (armed || !next) {
        fallbackTimer_.stop();
    } else {
        armFallback(*next, timerFd_ < 0 ? timerFdError_ : errno);
    }
}

void QtMainActor::armFallback(TimerQueue::Deadline next, int error) {
    if (!fallbackLogged_ && faultLog_ != nullptr) {
        faultLog_->write(
            LogLevel::error, QStringLiteral("net.brontal.zorvik"), QStringLiteral("runtime"),
            QStringLiteral("the system timer could not be set (%1); deadlines now wait on a timer "
                           "that does not count while the computer sleeps")
                .arg(QString::fromLocal8Bit(std::strerror(error))));
        fallbackLogged_ = true;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - bootTimeNow());
    fallbackTimer_.start(static_cast<int>(std::clamp<std::int64_t>(wait.count(), 0, INT_MAX)));
}
