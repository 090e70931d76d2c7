// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <unordered_map>

// Pending timers ordered by deadline on a monotonic clock; timers with equal deadlines keep the
// order in which they were added. Both main actors keep their timers here.
class TimerQueue {
public:
    using Deadline = std::chrono::nanoseconds;
    using TimerId = std::uint64_t;

    TimerId add(Deadline deadline, std::function<void()> fire);
    void remove(TimerId id);
    std::optional<Deadline> nextDeadline() const;
    // Takes the earliest timer if it is due at `now`; the caller runs it.
    std::optional<std::function<void()>> takeDue(Deadline now);
    bool empty() const { return byDeadline_.empty(); }
    std::size_t size() const { return deadlineOf_.size(); }
    void clear();

private:
    using Key = std::pair<Deadline, TimerId>;
    std::map<Key, std::function<void()>> byDeadline_;
    std::unordered_map<TimerId, Deadline> deadlineOf_;
    TimerId nextId_ = 1;
};
