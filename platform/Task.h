// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <concepts>
#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include "platform/TaskContext.h"

namespace detail {

// Every coroutine that can await our awaitables carries the context of the task it runs in,
// so waits can be cancelled and `isCancelled()` can answer without any global state.
struct PromiseBase {
    std::shared_ptr<TaskContext> context;
    std::coroutine_handle<> continuation;
    std::exception_ptr exception;
    // True while the awaiter is running this task from its own await: a task that ends then hands
    // control back by returning from that call instead of resuming the awaiter inside it.
    bool runningInline = false;

    std::suspend_always initial_suspend() noexcept { return {}; }

    struct FinalAwaiter {
        bool await_ready() noexcept { return false; }
        template <class Promise>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<Promise> done) noexcept {
            const auto& promise = done.promise();
            if (promise.runningInline || !promise.continuation) {
                return std::noop_coroutine();
            }
            return promise.continuation;
        }
        void await_resume() noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return {}; }
    void unhandled_exception() noexcept { exception = std::current_exception(); }
};

template <class Promise>
concept TaskPromise = std::derived_from<Promise, PromiseBase>;

template <class T>
struct ValuePromise : PromiseBase {
    std::optional<T> value;
    template <class U>
    void return_value(U&& result) {
        value.emplace(std::forward<U>(result));
    }
    T take() {
        if (exception) {
            std::rethrow_exception(exception);
        }
        return std::move(*value);
    }
};

template <>
struct ValuePromise<void> : PromiseBase {
    void return_void() noexcept {}
    void take() {
        if (exception) {
            std::rethrow_exception(exception);
        }
    }
};

// Runs an awaited task in the awaiter's task context and resumes the awaiter when it is done.
//
// The task is started by a plain call, not by handing it the thread (symmetric transfer): g++
// turns that hand-over into a jump only at -O2 without sanitizers, so a loop of awaits that end
// without suspending nested one stack frame per turn in every other build and overflowed the
// stack after a few thousand. A task that ends within the call lets the awaiter go on by
// returning; only one that suspended resumes its awaiter when it ends later, from the queue.
template <class TaskPromiseType, class T>
struct TaskAwaiter {
    std::coroutine_handle<TaskPromiseType> task;
    bool await_ready() noexcept { return false; }
    template <TaskPromise Promise>
    bool await_suspend(std::coroutine_handle<Promise> awaiting) {
        auto& promise = task.promise();
        promise.context = awaiting.promise().context;
        promise.continuation = awaiting;
        promise.runningInline = true;
        task.resume();
        if (task.done()) {
            return false;
        }
        promise.runningInline = false;
        return true;
    }
    T await_resume() { return task.promise().take(); }
};

struct CancellationCheck {
    bool cancelled = false;
    bool await_ready() noexcept { return false; }
    template <TaskPromise Promise>
    bool await_suspend(std::coroutine_handle<Promise> awaiting) noexcept {
        const auto& context = awaiting.promise().context;
        cancelled = context && context->cancelled;
        return false;
    }
    bool await_resume() noexcept { return cancelled; }
};

}  // namespace detail

// A lazy coroutine: nothing runs until it is awaited (or spawned on the main actor). Awaiting
// it runs it in the awaiter's task and hands back its result, or rethrows what it threw.
template <class T = void>
class [[nodiscard]] Task {
public:
    struct promise_type : detail::ValuePromise<T> {
        Task get_return_object() {
            return Task(std::coroutine_handle<promise_type>::from_promise(*this));
        }
    };

    Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() { reset(); }

    auto operator co_await() && noexcept { return detail::TaskAwaiter<promise_type, T>{handle_}; }

private:
    explicit Task(std::coroutine_handle<promise_type> handle) : handle_(handle) {}
    void reset() {
        if (handle_) {
            handle_.destroy();
            handle_ = nullptr;
        }
    }

    std::coroutine_handle<promise_type> handle_;
};

// `co_await isCancelled()` inside a task: whether its handle was cancelled. Never suspends.
inline auto isCancelled() noexcept {
    return detail::CancellationCheck{};
}
