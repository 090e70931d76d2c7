// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <QProcess>
#include <QString>
#include <chrono>
#include <functional>
#include <vector>

#include "ZorvikMac/CodeIntake/SymmetricKey.h"
#include "platform/CloudRecord.h"

// What the end-to-end benchmarks share: timing, waiting on the event loop, spreads of figures
// and the lines they print.

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to);
// Runs the event loop for `milliseconds`.
void spin(int milliseconds);
// Runs the event loop until `done` holds or `timeoutMs` passed; answers whether it holds.
bool waitUntil(const std::function<bool()>& done, int timeoutMs);
// SIGTERM, as a session's logout or a later copy sends it; waits for the copy to end.
void stop(QProcess& app);

struct Spread {
    double median = 0;
    double p90 = 0;
    double min = 0;
    double max = 0;
};

Spread spreadOf(std::vector<double> values);
// The value at or under which `fraction` of the values lie (nearest rank).
double percentile(std::vector<double> values, double fraction);

const char* verdict(bool met);
// printf to stdout, flushed at once.
[[gnu::format(printf, 1, 2)]] void say(const char* format, ...);
// The machine's one-minute load average: other work on it shows in every figure.
QString loadAverage();
bool isTmpfs(const QString& directory);

// A fixed CPU load beside a measurement, so that a figure "at a load of 2" can be taken again:
// `processes` children that spin on a CPU at nice 0, as a build beside the app would, until
// this is destroyed. Their spinning adds one to the load average each, within a minute.
class CpuLoad {
public:
    explicit CpuLoad(int processes);
    ~CpuLoad();
    CpuLoad(const CpuLoad&) = delete;
    CpuLoad& operator=(const CpuLoad&) = delete;

private:
    std::vector<pid_t> children_;
};

// A six-digit code unlike `previous`.
QString newCode(const QString& previous);
// The record "pending-code" a phone saves for `code`, sealed with `key`, issued now and valid for
// 10 minutes.
CloudRecord sealedCodeRecord(const SymmetricKey& key, const QString& code);
