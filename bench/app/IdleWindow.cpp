// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/app/IdleWindow.h"

#include <algorithm>
#include <chrono>
#include <map>

#include <QStringList>

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
    // What each thread did in the window.
    std::vector<ProcessFigures::ThreadTime> spent() const {
        std::vector<ProcessFigures::ThreadTime> threads;
        for (const auto& [thread, time] : last) {
            const auto before = first.find(thread);
            const ProcessFigures::ThreadTime start =
                before == first.end() ? ProcessFigures::ThreadTime{} : before->second;
            threads.push_back({time.name, time.scheduledNs - start.scheduledNs,
                               time.wakeUps - start.wakeUps, time.preemptions - start.preemptions});
        }
        return threads;
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
        ProcessFigures::ThreadTime spent;
        std::map<QString, std::int64_t> byName;
        for (const ProcessFigures::ThreadTime& thread : threads[i].spent()) {
            spent.scheduledNs += thread.scheduledNs;
            spent.wakeUps += thread.wakeUps;
            spent.preemptions += thread.preemptions;
            byName[thread.name] += thread.wakeUps;
        }
        Figures& f = figures[i];
        f.wakeUpsByThread.assign(byName.begin(), byName.end());
        std::stable_sort(f.wakeUpsByThread.begin(), f.wakeUpsByThread.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
        f.memory = ProcessFigures::memory(pids[i]);
        f.ended = f.memory.rssKb == 0 || f.rssMinKb == 0;
        f.ticksMs = static_cast<double>(after.userAndSystemNs - before[i].userAndSystemNs) / 1e6;
        f.scheduledMs = static_cast<double>(spent.scheduledNs) / 1e6;
        f.cpuPercent = 100.0 * static_cast<double>(spent.scheduledNs) / wallNs;
        f.wakeUpsPerSecond = static_cast<double>(spent.wakeUps) / (wallNs / 1e9);
        f.preemptionsPerSecond = static_cast<double>(spent.preemptions) / (wallNs / 1e9);
        f.threads = after.threads;
    }
    return figures;
}

QString wakeUpsByThreadText(const Figures& figures, int count) {
    QStringList parts;
    for (const auto& [name, wakeUps] : figures.wakeUpsByThread) {
        if (parts.size() == count || wakeUps == 0) {
            break;
        }
        parts.append(QStringLiteral("%1 %2").arg(name).arg(wakeUps));
    }
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
}

}  // namespace IdleWindow
