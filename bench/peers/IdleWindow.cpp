// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/peers/IdleWindow.h"

#include <algorithm>
#include <chrono>
#include <map>

#include "bench/app/BenchSupport.h"

namespace IdleWindow {

namespace {

// Every thread seen in the window: what the scheduler counted when it was first seen (nothing
// for a thread born in the window) and when last seen.
struct Threads {
    std::map<pid_t, ProcessFigures::ThreadTime> first;
    std::map<pid_t, ProcessFigures::ThreadTime> last;

    void see(pid_t pid) {
        for (const auto& [thread, time] : ProcessFigures::threadTimes(pid)) {
            last[thread] = time;
        }
    }
    ProcessFigures::ThreadTime spent() const {
        ProcessFigures::ThreadTime sum;
        for (const auto& [thread, time] : last) {
            const auto before = first.find(thread);
            const ProcessFigures::ThreadTime start =
                before == first.end() ? ProcessFigures::ThreadTime{} : before->second;
            sum.scheduledNs += time.scheduledNs - start.scheduledNs;
            sum.contextSwitches += time.contextSwitches - start.contextSwitches;
        }
        return sum;
    }
};

}  // namespace

std::vector<Figures> measure(const std::vector<pid_t>& pids, int seconds) {
    std::vector<Figures> figures(pids.size());
    std::vector<ProcessFigures::CpuTime> before;
    std::vector<Threads> threads(pids.size());
    for (std::size_t i = 0; i < pids.size(); ++i) {
        before.push_back(ProcessFigures::cpuTime(pids[i]));
        threads[i].first = ProcessFigures::threadTimes(pids[i]);
        threads[i].last = threads[i].first;
        figures[i].rssMinKb = figures[i].rssMaxKb = ProcessFigures::memory(pids[i]).rssKb;
    }
    const Clock::time_point start = Clock::now();
    for (int second = 0; second < seconds; ++second) {
        spin(1000);
        for (std::size_t i = 0; i < pids.size(); ++i) {
            threads[i].see(pids[i]);
            const std::int64_t rss = ProcessFigures::memory(pids[i]).rssKb;
            figures[i].rssMinKb = std::min(figures[i].rssMinKb, rss);
            figures[i].rssMaxKb = std::max(figures[i].rssMaxKb, rss);
        }
    }
    const double wallNs = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    for (std::size_t i = 0; i < pids.size(); ++i) {
        const ProcessFigures::CpuTime after = ProcessFigures::cpuTime(pids[i]);
        threads[i].see(pids[i]);
        const ProcessFigures::ThreadTime spent = threads[i].spent();
        Figures& f = figures[i];
        f.memory = ProcessFigures::memory(pids[i]);
        f.ended = f.memory.rssKb == 0 || f.rssMinKb == 0;
        f.ticksMs = static_cast<double>(after.userAndSystemNs - before[i].userAndSystemNs) / 1e6;
        f.scheduledMs = static_cast<double>(spent.scheduledNs) / 1e6;
        f.cpuPercent = 100.0 * static_cast<double>(spent.scheduledNs) / wallNs;
        f.wakeUpsPerSecond = static_cast<double>(spent.contextSwitches) / (wallNs / 1e9);
        f.threads = after.threads;
    }
    return figures;
}

}  // namespace IdleWindow
