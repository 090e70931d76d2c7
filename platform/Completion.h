// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "platform/MainActor.h"

// Turns a platform operation that reports through a callback into something a task awaits:
//
//     const bool enabled = co_await waitForCompletion<bool>(actor, [&](auto done) {
//         store.fetchState([done](bool answer) { done.resume(answer); });
//     });
//
// The waiting task always resumes through the main queue, also when the operation answers at
// once; only the first answer counts, and an answer after the waiting task is gone is dropped.
template <class T>
class CompletionHandler {
    using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

public:
    struct State : std::enable_shared_from_this<State> {
        MainActor* actor = nullptr;
        std::coroutine_handle<> waiter;
        bool answered = false;
        bool waiterGone = false;
        std::optional<Value> value;
        std::exception_ptr error;

        void answer() {
            answered = true;
            if (waiterGone) {
                return;  // the waiting task was destroyed, and maybe its actor with it
            }
            actor->post([self = this->shared_from_this()] {
                if (!self->waiterGone) {
                    self->waiter.resume();
                }
            });
        }
    };

    explicit CompletionHandler(std::shared_ptr<State> state) : state_(std::move(state)) {}

    template <class... Args>
    void resume(Args&&... value) const {
        if (!state_->answered) {
            state_->value.emplace(std::forward<Args>(value)...);
            state_->answer();
        }
    }
    void fail(std::exception_ptr error) const {
        if (!state_->answered) {
            state_->error = std::move(error);
            state_->answer();
        }
    }

private:
    std::shared_ptr<State> state_;
};

namespace detail {

template <class T, class Start>
auto completionAwaiter(MainActor& actor, Start start) {
    using Handler = CompletionHandler<T>;
    using State = typename Handler::State;

    struct Awaiter {
        Start start;
        std::shared_ptr<State> state = std::make_shared<State>();

        Awaiter(MainActor& actor, Start begin) : start(std::move(begin)) { state->actor = &actor; }
        Awaiter(const Awaiter&) = delete;
        Awaiter& operator=(const Awaiter&) = delete;
        // Runs when the wait ends, and also when the waiting frame is destroyed unfinished.
        ~Awaiter() { state->waiterGone = true; }

        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> awaiting) {
            state->waiter = awaiting;
            start(Handler(state));
        }
        T await_resume() {
            if (state->error) {
                std::rethrow_exception(state->error);
            }
            if constexpr (!std::is_void_v<T>) {
                return std::move(*state->value);
            }
        }
    };
    return Awaiter(actor, std::move(start));
}

}  // namespace detail

// The operation's start is usually a lambda written in the `co_await` expression itself. g++ 12
// destroys such a temporary a second time when the awaiting coroutine's frame is freed, if it was
// built member by member (a lambda's captures, a braced aggregate): a captured QString was freed
// twice and corrupted the heap of the shipped build. So a start written in place may capture only
// what needs no destructor (references, pointers, numbers); one that keeps a value is named first,
// and passed as a variable.
template <class T, class Start>
auto waitForCompletion(MainActor& actor, Start&& start) {
    static_assert(std::is_lvalue_reference_v<Start> ||
                      std::is_trivially_destructible_v<std::remove_cvref_t<Start>>,
                  "g++ 12 destroys this start twice: capture by reference, or name it first");
    return detail::completionAwaiter<T>(actor,
                                        std::remove_cvref_t<Start>(std::forward<Start>(start)));
}
