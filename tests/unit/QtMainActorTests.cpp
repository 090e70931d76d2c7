#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <vector>

#include "QtMainActor.h"
#include "SessionProcess.h"

namespace {

struct DestructionFlag {
    bool& destroyed;
    ~DestructionFlag() { destroyed = true; }
};

TEST(QtMainActor, PostedJobsRunInOrderAndTimersByDeadline) {
    QtMainActor actor;
    std::vector<int> jobs;
    std::vector<int> timers;
    actor.startTimer(0.2, [&] { timers.push_back(2); });
    actor.startTimer(0.01, [&] { timers.push_back(1); });
    for (int i = 0; i < 3; ++i) {
        actor.post([&jobs, i] { jobs.push_back(i); });
    }
    EXPECT_TRUE(jobs.empty());
    runEventsUntil([&] { return timers.size() == 2; });
    EXPECT_EQ(jobs, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(timers, (std::vector<int>{1, 2}));
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

TEST(QtMainActor, CancelEndsALongSleepAtOnceAndDestroyingTheActorFreesTheRest) {
    auto actor = std::make_unique<QtMainActor>();
    bool cancelledDone = false;
    bool frameDestroyed = false;
    auto cancelled = [&]() -> Task<void> {
        co_await actor->sleep(3600);
        cancelledDone = true;
    };
    auto sleeper = [&]() -> Task<void> {
        DestructionFlag flag{frameDestroyed};
        co_await actor->sleep(3600);
    };
    const TaskHandle handle = actor->spawn(cancelled());
    actor->spawn(sleeper());
    actor->post([handle] { handle.cancel(); });
    runEventsUntil([&] { return cancelledDone; });
    EXPECT_TRUE(cancelledDone);
    EXPECT_FALSE(frameDestroyed);
    actor.reset();
    EXPECT_TRUE(frameDestroyed);
}

}  // namespace
