// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QString>
#include <vector>

#include "tests/support/ManualMainActor.h"

namespace {

TEST(MainActor, SpawnRunsTasksInFifoOrderNeverInline) {
    ManualMainActor actor;
    std::vector<int> order;
    auto record = [&](int n) -> Task<void> {
        order.push_back(n);
        co_return;
    };
    TaskHandle last;
    for (int i = 0; i < 5; ++i) {
        last = actor.spawn(record(i));
    }
    actor.post([&] { order.push_back(99); });
    EXPECT_TRUE(order.empty());
    actor.runUntilIdle();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 99}));
    last.cancel();
    EXPECT_FALSE(last.isCancelled()) << "cancelling a finished task has no effect";
}

// A cancelled task's current sleep ends through the queue, and any later sleep does not wait.
TEST(MainActor, CancellingASleepingTaskResumesItAtOnce) {
    ManualMainActor actor;
    bool cancelledSeen = false;
    std::vector<double> resumedAt;
    auto sleeper = [&]() -> Task<void> {
        co_await actor.sleep(1000);
        resumedAt.push_back(actor.monotonicSeconds());
        cancelledSeen = co_await isCancelled();
        co_await actor.sleep(1000);
        resumedAt.push_back(actor.monotonicSeconds());
    };
    const TaskHandle handle = actor.spawn(sleeper());
    actor.advance(5);
    handle.cancel();
    EXPECT_TRUE(resumedAt.empty()) << "cancel must not resume the task inline";
    actor.runUntilIdle();
    EXPECT_EQ(resumedAt, (std::vector<double>{5, 5}));
    EXPECT_TRUE(cancelledSeen);
    EXPECT_TRUE(handle.isFinished());
    EXPECT_EQ(actor.pendingTimers(), 0u) << "the cancelled wait's timer must be gone";
}

TEST(MainActor, TimersFireInDeadlineOrderIncludingTimersMadeByTimers) {
    ManualMainActor actor;
    std::vector<std::pair<QString, double>> fired;
    auto note = [&](const char* name) { fired.emplace_back(name, actor.monotonicSeconds()); };
    actor.startTimer(30, [&] { note("30"); });
    actor.startTimer(10, [&] {
        note("10");
        actor.startTimer(5, [&] { note("10+5"); });
        actor.startTimer(20, [&] { note("10+20"); });  // due with "30", but made later
    });
    actor.startTimer(10, [&] { note("10 second"); });
    actor.stopTimer(actor.startTimer(20, [&] { note("stopped"); }));
    actor.advance(40);
    const std::vector<std::pair<QString, double>> expected{
        {"10", 10}, {"10 second", 10}, {"10+5", 15}, {"30", 30}, {"10+20", 30}};
    EXPECT_EQ(fired, expected);
}

}  // namespace
