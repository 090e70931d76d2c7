#include <gtest/gtest.h>

#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

#include "ManualMainActor.h"

namespace {

TEST(MainActor, SpawnRunsTasksInFifoOrderNeverInline) {
    ManualMainActor actor;
    std::vector<int> order;
    auto record = [&](int n) -> Task<void> {
        order.push_back(n);
        co_return;
    };
    for (int i = 0; i < 5; ++i) {
        actor.spawn(record(i));
    }
    actor.post([&] { order.push_back(99); });
    EXPECT_TRUE(order.empty());
    actor.runUntilIdle();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 99}));
}

TEST(MainActor, SleepResumesAtTheDeadlineOnVirtualTime) {
    ManualMainActor actor;
    std::optional<double> wokeAt;
    const Instant start = actor.now();
    auto sleeper = [&]() -> Task<void> {
        co_await actor.sleep(90);
        wokeAt = secondsBetween(start, actor.now());
    };
    actor.spawn(sleeper());
    actor.advance(89.999);
    EXPECT_FALSE(wokeAt);
    actor.advance(0.001);
    EXPECT_EQ(wokeAt, 90.0);
}

TEST(MainActor, CancellingASleepingTaskResumesItAtOnce) {
    ManualMainActor actor;
    bool cancelledSeen = false;
    std::optional<double> resumedAfter;
    auto sleeper = [&]() -> Task<void> {
        co_await actor.sleep(1000);
        resumedAfter = actor.monotonicSeconds();
        cancelledSeen = co_await isCancelled();
    };
    const TaskHandle handle = actor.spawn(sleeper());
    actor.advance(5);
    handle.cancel();
    EXPECT_FALSE(resumedAfter) << "cancel must not resume the task inline";
    actor.runUntilIdle();
    EXPECT_EQ(resumedAfter, 5.0);
    EXPECT_TRUE(cancelledSeen);
    EXPECT_TRUE(handle.isFinished());
    EXPECT_EQ(actor.pendingTimers(), 0u) << "the cancelled wait's timer must be gone";
}

TEST(MainActor, SleepInACancelledTaskDoesNotWait) {
    ManualMainActor actor;
    int turns = 0;
    auto loop = [&]() -> Task<void> {
        while (!(co_await isCancelled())) {
            ++turns;
            co_await actor.sleep(20);
        }
    };
    const TaskHandle handle = actor.spawn(loop());
    actor.advance(60);
    EXPECT_EQ(turns, 4);  // at 0, 20, 40, 60
    handle.cancel();
    actor.runUntilIdle();
    EXPECT_TRUE(handle.isFinished());
    EXPECT_EQ(turns, 4);
}

TEST(MainActor, CancellingAFinishedTaskHasNoEffect) {
    ManualMainActor actor;
    auto quick = []() -> Task<void> { co_return; };
    const TaskHandle handle = actor.spawn(quick());
    actor.runUntilIdle();
    handle.cancel();
    EXPECT_TRUE(handle.isFinished());
    EXPECT_FALSE(handle.isCancelled());
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
    const auto stopped = actor.startTimer(20, [&] { note("stopped"); });
    actor.stopTimer(stopped);
    actor.advance(40);
    const std::vector<std::pair<QString, double>> expected{
        {"10", 10}, {"10 second", 10}, {"10+5", 15}, {"30", 30}, {"10+20", 30}};
    EXPECT_EQ(fired, expected);
}

TEST(MainActor, TaskHoldingAWeakOwnerDoesNothingOnceTheOwnerIsGone) {
    ManualMainActor actor;
    int ticks = 0;
    auto owner = std::make_unique<QObject>();
    auto ticker = [&actor, &ticks](QPointer<QObject> weakOwner) -> Task<void> {
        while (true) {
            co_await actor.sleep(1);
            if (!weakOwner) {
                co_return;
            }
            ++ticks;
        }
    };
    const TaskHandle handle = actor.spawn(ticker(owner.get()));
    actor.advance(3);
    EXPECT_EQ(ticks, 3);
    owner.reset();
    actor.advance(3);
    EXPECT_EQ(ticks, 3);
    EXPECT_TRUE(handle.isFinished());
}

}  // namespace
