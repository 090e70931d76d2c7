// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <deque>

#include "platform/MainActor.h"
#include "platform/TimerQueue.h"

// A main actor on virtual time for tests: nothing runs until the test says so, and time moves
// only through advance().
class ManualMainActor final : public MainActor {
public:
    explicit ManualMainActor(Instant start = defaultStart());
    ~ManualMainActor() override;

    static Instant defaultStart();

    Instant now() const override { return wallClock_; }
    void post(std::function<void()> job) override { queue_.push_back(std::move(job)); }
    TimerId startTimer(double seconds, std::function<void()> fire) override;
    void stopTimer(TimerId timer) override { timers_.remove(timer); }

    // Runs queued jobs, and the jobs they queue, until none is left.
    void runUntilIdle();
    // Moves both clocks forward by `seconds`, running every timer that falls due on the way in
    // deadline order, and the queue after each.
    void advance(double seconds);
    // Moves only the wall clock, as when the user changes the time.
    void setWallClock(Instant instant) { wallClock_ = instant; }

    // Seconds on the virtual monotonic clock since the actor was made.
    double monotonicSeconds() const;
    std::size_t pendingTimers() const;
    bool hasQueuedJobs() const { return !queue_.empty(); }

private:
    std::deque<std::function<void()>> queue_;
    TimerQueue timers_;
    TimerQueue::Deadline monotonic_{0};
    Instant wallClock_;
};
