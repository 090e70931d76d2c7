// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/app/BenchSupport.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTimer>
#include <QUuid>
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "ZorvikMac/CodeIntake/PendingCode.h"

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void spin(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds or `timeoutMs` passed; answers whether it holds.
bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

// SIGTERM, as a session's logout or a later copy sends it; waits for the copy to end.
void stop(QProcess& app) {
    if (app.state() == QProcess::NotRunning) {
        return;
    }
    app.terminate();
    if (!app.waitForFinished(5000)) {
        app.kill();
        app.waitForFinished(5000);
    }
    spin(200);  // the watcher drops the item, the session quietens
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    // Nearest rank: the smallest value that at least `fraction` of the values do not exceed.
    const auto rank =
        static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

Spread spreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    if (n == 0) {
        return {};
    }
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, percentile(values, 0.9), values.front(), values.back()};
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

void say(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

// The machine's one-minute load average: other work on it shows in every figure.
QString loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("?");
    }
    return QString::fromLatin1(file.readAll().split(' ').value(0));
}

bool isTmpfs(const QString& directory) {
    struct statfs system {};
    constexpr decltype(system.f_type) tmpfsMagic = 0x01021994;
    return statfs(QFile::encodeName(directory).constData(), &system) == 0 &&
           system.f_type == tmpfsMagic;
}

QString newCode(const QString& previous) {
    QString code;
    do {
        code = QString::number(QRandomGenerator::global()->bounded(100000, 1000000));
    } while (code == previous);
    return code;
}

CloudRecord sealedCodeRecord(const SymmetricKey& key, const QString& code) {
    const auto issued = std::chrono::floor<std::chrono::seconds>(
        std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now()));
    const PendingCode pending{
        QUuid::createUuid(),        QStringLiteral("Bench"), QStringLiteral("github"), code, issued,
        addingSeconds(issued, 600), QStringLiteral("bench")};
    CloudRecord record{QStringLiteral("pending-code"), QStringLiteral("PendingCode"), {}};
    // Assigned in place: inserted, the field is copied through a temporary in which g++ 12 at -O2
    // sees an uninitialised QByteArray (-Wmaybe-uninitialized), which it is not.
    record.fields[QStringLiteral("blob")] = pending.seal(key);
    record.fields[QStringLiteral("expiresAt")] = pending.expiresAt;
    return record;
}

CpuLoad::CpuLoad(int processes) {
    const pid_t parent = ::getpid();
    for (int n = 0; n < processes; ++n) {
        const pid_t child = ::fork();
        if (child == 0) {
            // Nothing of the parent's is touched here: the loop, then the signal that ends it,
            // which the kernel sends too should the benchmark end without its destructor.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) {
                ::_exit(0);
            }
            volatile std::uint64_t spins = 0;
            for (;;) {
                spins = spins + 1;
            }
        }
        if (child > 0) {
            children_.push_back(child);
        }
    }
}

CpuLoad::~CpuLoad() {
    for (const pid_t child : children_) {
        ::kill(child, SIGKILL);
    }
    for (const pid_t child : children_) {
        ::waitpid(child, nullptr, 0);
    }
}
