// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <exception>
#include <functional>
#include <memory>

// What a spawned task and its handle share: the cancellation flag, how to wake the task from
// a cancellable wait, and how the task ended.
struct TaskContext {
    bool cancelled = false;
    bool finished = false;
    std::exception_ptr failure;
    // Set while the task is suspended in a wait that cancellation ends early.
    std::function<void()> wake;

    void cancel() {
        if (cancelled) {
            return;
        }
        cancelled = true;
        if (auto wakeNow = std::exchange(wake, nullptr)) {
            wakeNow();
        }
    }
};

// The handle that MainActor::spawn returns. Copies refer to the same task.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<TaskContext> context) : context_(std::move(context)) {}

    // Marks the task cancelled and ends its current cancellable wait at once. Cancelling a
    // finished task has no effect.
    void cancel() const {
        if (context_ && !context_->finished) {
            context_->cancel();
        }
    }
    bool isCancelled() const { return context_ && context_->cancelled; }
    bool isFinished() const { return context_ && context_->finished; }
    // The exception that ended the task, if one escaped it.
    std::exception_ptr failure() const { return context_ ? context_->failure : nullptr; }

    bool operator==(const TaskHandle&) const = default;

private:
    std::shared_ptr<TaskContext> context_;
};
