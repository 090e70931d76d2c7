// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <coroutine>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>

#include "platform/Instant.h"
#include "platform/Task.h"

// The one thread all product state lives on, with its queue, its timers and its clocks.
// Waiting never blocks the thread: a task suspends and the queue runs other work meanwhile.
class MainActor {
public:
    using TimerId = std::uint64_t;

    MainActor() = default;
    MainActor(const MainActor&) = delete;
    MainActor& operator=(const MainActor&) = delete;
    virtual ~MainActor();

    // The wall clock.
    virtual Instant now() const = 0;

    // Runs `job` later on the main queue, after every job posted before it. Never runs inline.
    virtual void post(std::function<void()> job) = 0;

    // Runs `fire` once on the main thread when `seconds` have passed on the boot-time monotonic
    // clock, which keeps counting through system sleep.
    virtual TimerId startTimer(double seconds, std::function<void()> fire) = 0;
    virtual void stopTimer(TimerId timer) = 0;

    // Starts `task` from the main queue (never inline). The handle cancels it; an exception that
    // escapes the task is kept in the handle.
    TaskHandle spawn(Task<void> task);

    // `co_await sleep(s)`: resumes after `s` seconds (at once for s <= 0, through the queue), or
    // as soon as the task is cancelled.
    auto sleep(double seconds) { return SleepAwaiter{*this, seconds}; }

    // `co_await yield()`: lets the rest of the queue run before the task goes on.
    auto yield() { return SleepAwaiter{*this, 0}; }

protected:
    // Subclasses call this first in their destructor, while their queue and timers still exist:
    // it destroys the frames of tasks that never finished.
    void destroyUnfinishedTasks();

private:
    struct SleepAwaiter {
        MainActor& actor;
        double seconds;

        bool await_ready() const noexcept { return false; }
        template <detail::TaskPromise Promise>
        bool await_suspend(std::coroutine_handle<Promise> awaiting) {
            return actor.suspendForSleep(awaiting, awaiting.promise().context, seconds);
        }
        void await_resume() const noexcept {}
    };

    struct RootTask;
    static RootTask runRoot(Task<void> task);

    bool suspendForSleep(std::coroutine_handle<> awaiting,
                         const std::shared_ptr<TaskContext>& context, double seconds);
    void forgetRoot(TaskContext* context);

    std::unordered_map<TaskContext*, std::coroutine_handle<>> unfinished_;
};
