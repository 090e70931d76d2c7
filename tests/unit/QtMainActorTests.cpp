// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <cerrno>
#include <vector>

#include "platform/linux/QtMainActor.h"
#include "tests/support/RecordingSystemLog.h"
#include "tests/support/SessionProcess.h"

namespace {

struct DestructionFlag {
    bool& destroyed;
    ~DestructionFlag() { destroyed = true; }
};

// Sleeps really wait, on the boot-time clock.
TEST(QtMainActor, PostedJobsRunInOrderTimersByDeadlineAndSleepsAfterTheirTime) {
    QtMainActor actor;
    std::vector<int> jobs;
    std::vector<int> timers;
    std::optional<qint64> sleptMs;
    QElapsedTimer elapsed;
    elapsed.start();
    actor.startTimer(0.2, [&] { timers.push_back(2); });
    actor.startTimer(0.01, [&] { timers.push_back(1); });
    auto sleeper = [&]() -> Task<void> {
        co_await actor.sleep(0.05);
        co_await actor.sleep(0.01);
        sleptMs = elapsed.elapsed();
    };
    actor.spawn(sleeper());
    for (int i = 0; i < 3; ++i) {
        actor.post([&jobs, i] { jobs.push_back(i); });
    }
    EXPECT_TRUE(jobs.empty());
    runEventsUntil([&] { return timers.size() == 2 && sleptMs; });
    EXPECT_EQ(jobs, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(timers, (std::vector<int>{1, 2}));
    ASSERT_TRUE(sleptMs);
    EXPECT_GE(*sleptMs, 60);
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

// Should the kernel refuse to set the timer, the deadlines move to a Qt timer: none is lost,
// they keep their order, and the log says why once.
TEST(QtMainActorTimerFault, DeadlinesStillFireInOrderWhenTheSystemTimerFails) {
    RecordingSystemLog log;
    int refusals = 0;
    QtMainActor actor(&log, [&refusals](int, const itimerspec&) {
        ++refusals;
        errno = EINVAL;
        return false;
    });
    std::vector<int> order;
    bool done = false;
    actor.startTimer(0.03, [&] {
        order.push_back(3);
        done = true;
    });
    actor.startTimer(0.01, [&] { order.push_back(1); });
    const auto stopped = actor.startTimer(0.02, [&] { order.push_back(2); });
    actor.stopTimer(stopped);
    EXPECT_TRUE(runEventsUntil([&] { return done; }));
    EXPECT_EQ(order, (std::vector<int>{1, 3}));
    EXPECT_GE(refusals, 3);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].level, LogLevel::error);
    EXPECT_EQ(log.lines[0].message,
              "the system timer could not be set (Invalid argument); deadlines now wait on a "
              "timer that does not count while the computer sleeps");
}

}  // namespace
