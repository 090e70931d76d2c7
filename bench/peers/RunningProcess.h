// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <memory>

#include "bench/app/BenchSupport.h"

// A daemon started for the benchmark, stopped (SIGTERM, as at logout) when it goes out of scope.
struct StopAndDelete {
    void operator()(QProcess* process) const {
        stop(*process);
        delete process;
    }
};
using RunningProcess = std::unique_ptr<QProcess, StopAndDelete>;
