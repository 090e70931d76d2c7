// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/ManualMainActor.h"

#include <algorithm>
#include <cmath>

#include "shared/Iso8601.h"

ManualMainActor::ManualMainActor(Instant start) : wallClock_(start) {}

ManualMainActor::~ManualMainActor() {
    destroyUnfinishedTasks();
}

Instant ManualMainActor::defaultStart() {
    return *Iso8601::parse(u"2026-03-01T12:00:00Z");
}

MainActor::TimerId ManualMainActor::startTimer(double seconds, std::function<void()> fire) {
    const double wait = std::isfinite(seconds) ? std::clamp(seconds, 0.0, 1e9) : 1e9;
    const auto deadline = monotonic_ + std::chrono::round<std::chrono::nanoseconds>(
                                           std::chrono::duration<double>(wait));
    return timers_.add(deadline, std::move(fire));
}

void ManualMainActor::runUntilIdle() {
    while (!queue_.empty()) {
        auto job = std::move(queue_.front());
        queue_.pop_front();
        job();
    }
}

void ManualMainActor::advance(double seconds) {
    const auto target = monotonic_ + std::chrono::round<std::chrono::nanoseconds>(
                                         std::chrono::duration<double>(seconds));
    runUntilIdle();
    while (const auto next = timers_.nextDeadline()) {
        if (*next > target) {
            break;
        }
        if (*next > monotonic_) {
            wallClock_ += std::chrono::duration_cast<std::chrono::microseconds>(*next - monotonic_);
            monotonic_ = *next;
        }
        if (auto fire = timers_.takeDue(monotonic_)) {
            (*fire)();
        }
        runUntilIdle();
    }
    wallClock_ += std::chrono::duration_cast<std::chrono::microseconds>(target - monotonic_);
    monotonic_ = target;
    runUntilIdle();
}

double ManualMainActor::monotonicSeconds() const {
    return std::chrono::duration<double>(monotonic_).count();
}

std::size_t ManualMainActor::pendingTimers() const {
    return timers_.size();
}
