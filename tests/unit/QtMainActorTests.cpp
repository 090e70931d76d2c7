#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <vector>

#include "QtMainActor.h"
#include "SessionProcess.h"

namespace {

TEST(QtMainActor, PostedJobsRunInOrderFromTheEventLoop) {
    QtMainActor actor;
    std::vector<int> order;
    bool done = false;
    for (int i = 0; i < 3; ++i) {
        actor.post([&order, i] { order.push_back(i); });
    }
    actor.post([&] { done = true; });
    EXPECT_TRUE(order.empty());
    runEventsUntil([&] { return done; });
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(QtMainActor, SleepReallyWakesOnTheBootTimeClock) {
    QtMainActor actor;
    bool done = false;
    QElapsedTimer elapsed;
    elapsed.start();
    auto sleeper = [&]() -> Task<void> {
        co_await actor.sleep(0.05);
        co_await actor.sleep(0.01);
        done = true;
    };
    actor.spawn(sleeper());
    runEventsUntil([&] { return done; });
    EXPECT_TRUE(done);
    EXPECT_GE(elapsed.elapsed(), 60);
}

TEST(QtMainActor, EarlierTimerAddedLaterStillFiresFirst) {
    QtMainActor actor;
    std::vector<int> order;
    bool done = false;
    actor.startTimer(0.2, [&] {
        order.push_back(2);
        done = true;
    });
    actor.startTimer(0.01, [&] { order.push_back(1); });
    runEventsUntil([&] { return done; });
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(QtMainActor, CancelEndsALongSleepAtOnce) {
    QtMainActor actor;
    bool done = false;
    auto sleeper = [&]() -> Task<void> {
        co_await actor.sleep(3600);
        done = true;
    };
    const TaskHandle handle = actor.spawn(sleeper());
    actor.post([handle] { handle.cancel(); });
    runEventsUntil([&] { return done; });
    EXPECT_TRUE(done);
}

struct DestructionFlag {
    bool& destroyed;
    ~DestructionFlag() { destroyed = true; }
};

TEST(QtMainActor, DestroyingTheActorFreesSleepingTasks) {
    auto actor = std::make_unique<QtMainActor>();
    bool frameDestroyed = false;
    auto sleeper = [&]() -> Task<void> {
        DestructionFlag flag{frameDestroyed};
        co_await actor->sleep(3600);
    };
    actor->spawn(sleeper());
    bool started = false;
    actor->post([&] { started = true; });
    runEventsUntil([&] { return started; });
    EXPECT_FALSE(frameDestroyed);
    actor.reset();
    EXPECT_TRUE(frameDestroyed);
}

}  // namespace
