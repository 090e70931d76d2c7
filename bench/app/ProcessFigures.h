// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>
#include <QString>

#include <cstdint>
#include <map>
#include <vector>

// What /proc tells about one running process: its CPU time so far and its memory now.
namespace ProcessFigures {

struct CpuTime {
    // utime + stime of the whole process (every thread, living or ended), in nanoseconds; the
    // kernel counts them in clock ticks.
    std::int64_t userAndSystemNs = 0;
    // Time on a CPU by the scheduler's own count, summed over the threads alive now; exact to
    // the nanosecond.
    std::int64_t scheduledNs = 0;
    // Voluntary context switches of the threads alive now: how often one slept and was woken.
    std::int64_t wakeUps = 0;
    // Involuntary ones: how often one was put off a CPU while it ran.
    std::int64_t preemptions = 0;
    int threads = 0;
};

struct Memory {
    std::int64_t rssKb = 0;        // VmRSS
    std::int64_t peakKb = 0;       // VmHWM
    std::int64_t pssKb = 0;        // Pss from smaps_rollup
    std::int64_t anonymousKb = 0;  // RssAnon: the process's own pages
    std::int64_t fileKb = 0;       // RssFile: pages of files, mostly shared libraries
};

// Resident memory of a group of mappings, such as "Qt libraries".
struct MemoryPart {
    QString name;
    std::int64_t rssKb = 0;
    std::int64_t pssKb = 0;
    std::int64_t anonymousKb = 0;  // of rssKb, pages private to the process (dirtied or heap)
};

// What the scheduler counted for one thread so far.
struct ThreadTime {
    QString name;  // its comm, such as "QDBusConnection"
    std::int64_t scheduledNs = 0;
    std::int64_t wakeUps = 0;
    std::int64_t preemptions = 0;
};

// Nothing (all zero) when the process is gone.
CpuTime cpuTime(pid_t pid);
// Each thread alive now, by thread id. Followed over a window, they count what a thread that
// ended in it did there, which the sums in CpuTime lose with the thread.
std::map<pid_t, ThreadTime> threadTimes(pid_t pid);
Memory memory(pid_t pid);

// Resident memory by kind of mapping, largest first: the heap and anonymous mappings, the Qt
// libraries, other shared libraries, the executable, fonts and the rest.
std::vector<MemoryPart> memoryByKind(pid_t pid);
// The `count` mappings (merged by file) holding the most resident memory, largest first.
std::vector<MemoryPart> largestMappings(pid_t pid, int count);

}  // namespace ProcessFigures
