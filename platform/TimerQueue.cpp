// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TimerQueue.h"

TimerQueue::TimerId TimerQueue::add(Deadline deadline, std::function<void()> fire) {
    const TimerId id = nextId_++;
    byDeadline_.emplace(Key{deadline, id}, std::move(fire));
    deadlineOf_.emplace(id, deadline);
    return id;
}

void TimerQueue::remove(TimerId id) {
    const auto found = deadlineOf_.find(id);
    if (found == deadlineOf_.end()) {
        return;
    }
    byDeadline_.erase(Key{found->second, id});
    deadlineOf_.erase(found);
}

std::optional<TimerQueue::Deadline> TimerQueue::nextDeadline() const {
    if (byDeadline_.empty()) {
        return std::nullopt;
    }
    return byDeadline_.begin()->first.first;
}

std::optional<std::function<void()>> TimerQueue::takeDue(Deadline now) {
    if (byDeadline_.empty() || byDeadline_.begin()->first.first > now) {
        return std::nullopt;
    }
    auto first = byDeadline_.extract(byDeadline_.begin());
    deadlineOf_.erase(first.key().second);
    return std::move(first.mapped());
}

void TimerQueue::clear() {
    byDeadline_.clear();
    deadlineOf_.clear();
}
