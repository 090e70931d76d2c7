// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/SchedulerSlice.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

// On the running kernel: the slice asked for is the thread's, and the threads it starts later
// (the toolkit's) have it too, while the threads that were there before keep theirs.
TEST(SchedulerSlice, ThreadsStartedAfterTheRequestShareTheShortSlice) {
    const std::chrono::microseconds before = SchedulerSlice::current();
    std::chrono::microseconds asked{};
    std::chrono::microseconds inherited{};
    bool granted = false;
    std::thread([&] {
        granted = SchedulerSlice::request(700us);
        asked = SchedulerSlice::current();
        std::thread([&] { inherited = SchedulerSlice::current(); }).join();
    }).join();
    ASSERT_TRUE(granted);
    if (asked == 0us) {
        GTEST_SKIP() << "this kernel does not tell a time-sharing thread's slice";
    }
    EXPECT_EQ(asked, 700us);
    EXPECT_EQ(inherited, 700us);
    EXPECT_EQ(SchedulerSlice::current(), before);
    EXPECT_NE(before, 700us);
}
