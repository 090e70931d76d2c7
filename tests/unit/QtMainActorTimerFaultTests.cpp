#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "QtMainActor.h"
#include "RecordingSystemLog.h"
#include "SessionProcess.h"

namespace {

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
