// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

#include "bench/app/ProcessFigures.h"

// Several processes watched over one and the same idle window, so that whatever else the machine
// does in it weighs on all of them alike.
namespace IdleWindow {

struct Figures {
    ProcessFigures::Memory memory;  // at the end of the window
    std::int64_t rssMinKb = 0;      // sampled once a second
    std::int64_t rssMaxKb = 0;
    double ticksMs = 0;  // utime + stime, which the kernel counts in clock ticks
    // Time on a CPU by the scheduler's count, of every thread seen once a second in the window
    // (a thread that ends loses at most its last second).
    double scheduledMs = 0;
    double cpuPercent = 0;            // scheduledMs over the window's wall time
    double wakeUpsPerSecond = 0;      // voluntary context switches: slept, then woken
    double preemptionsPerSecond = 0;  // involuntary ones, not counted as wake-ups
    // Wake-ups in the window by thread name, most first.
    std::vector<std::pair<QString, std::int64_t>> wakeUpsByThread;
    int threads = 0;
    bool ended = false;  // the process went away during the window
};

std::vector<Figures> measure(const std::vector<pid_t>& pids, int seconds);

// "ZorvikMac 12, QDBusConnection 3": who woke how often, the `count` busiest threads.
QString wakeUpsByThreadText(const Figures& figures, int count = 5);

}  // namespace IdleWindow
