// SPDX-License-Identifier: GPL-3.0-or-later
// What tests/lint/coroutine-temporaries.sh must find and must leave: the line after each marked
// comment holds a temporary that g++ 12 destroys twice; no other line does. Never built: the
// check only reads it.
#include <coroutine>
#include <memory>
#include <utility>

struct Task {
    struct promise_type {
        Task get_return_object() { return {}; }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() {}
        void unhandled_exception() {}
    };
};

template <class Start>
struct Wait {
    Start start;
    bool await_ready() { return false; }
    void await_suspend(std::coroutine_handle<>) { start(); }
    void await_resume() {}
};
template <class Start>
Wait<Start> waitFor(Start start) {
    return Wait<Start>{std::move(start)};
}

struct Kept {
    std::shared_ptr<int> value;
    void operator()() const {}
};

Task shapes(std::shared_ptr<int> value) {
    // g++ 12 destroys this twice
    co_await waitFor([value] {});
    // g++ 12 destroys this twice
    co_await waitFor(Kept{value});
    // g++ 12 destroys this twice
    co_await Wait<Kept>{Kept{value}};
    co_await waitFor([&value] {});
    co_await waitFor([] {});
    auto named = [value] {};
    co_await waitFor(named);
    // Temporaries of the lambda's own body belong to it, not to the await.
    co_await waitFor([&value] { waitFor([value] {}).start(); });
}
