// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/MainActor.h"

// The coroutine that owns a spawned task: it starts from the queue, awaits the task, keeps what
// escaped it and frees itself when done. Unfinished ones are destroyed with the actor.
struct MainActor::RootTask {
    struct promise_type : detail::PromiseBase {
        MainActor* actor = nullptr;

        RootTask get_return_object() {
            return {std::coroutine_handle<promise_type>::from_promise(*this)};
        }
        std::suspend_never final_suspend() noexcept {
            context->finished = true;
            context->wake = nullptr;
            actor->forgetRoot(context.get());
            return {};
        }
        void return_void() noexcept {}
        void unhandled_exception() noexcept { context->failure = std::current_exception(); }
    };
    std::coroutine_handle<promise_type> handle;
};

MainActor::~MainActor() = default;

MainActor::RootTask MainActor::runRoot(Task<void> task) {
    co_await std::move(task);
}

TaskHandle MainActor::spawn(Task<void> task) {
    auto context = std::make_shared<TaskContext>();
    const auto root = runRoot(std::move(task)).handle;
    root.promise().context = context;
    root.promise().actor = this;
    unfinished_.emplace(context.get(), root);
    post([root] { root.resume(); });
    return TaskHandle(std::move(context));
}

bool MainActor::suspendForSleep(std::coroutine_handle<> awaiting,
                                const std::shared_ptr<TaskContext>& context, double seconds) {
    if (context && context->cancelled) {
        return false;
    }
    if (!(seconds > 0)) {
        post([awaiting] { awaiting.resume(); });
        return true;
    }
    const std::weak_ptr<TaskContext> weakContext = context;
    const TimerId timer = startTimer(seconds, [awaiting, weakContext] {
        if (const auto context = weakContext.lock()) {
            context->wake = nullptr;
        }
        awaiting.resume();
    });
    if (context) {
        context->wake = [this, timer, awaiting] {
            stopTimer(timer);
            post([awaiting] { awaiting.resume(); });
        };
    }
    return true;
}

void MainActor::forgetRoot(TaskContext* context) {
    unfinished_.erase(context);
}

void MainActor::destroyUnfinishedTasks() {
    const auto roots = std::exchange(unfinished_, {});
    for (const auto& [context, root] : roots) {
        context->wake = nullptr;
        context->finished = true;
        root.destroy();
    }
}
