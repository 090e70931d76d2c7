#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <functional>

// Event-loop helpers for tests that talk to programs of the private desktop session, which may
// in turn talk back to this process while it waits.

inline void runEventsFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds, asking every `pollMs`; false after `timeoutMs`.
inline bool runEventsUntil(const std::function<bool()>& done, int timeoutMs, int pollMs = 5) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > timeoutMs) {
            return false;
        }
        runEventsFor(pollMs);
    }
    return true;
}

struct ProcessRun {
    bool finished = false;  // started and exited on its own within the time
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
};

// Runs `program` to its end with the event loop going; kills it after `timeoutMs`.
inline ProcessRun runProcess(const QString& program, const QStringList& arguments,
                             int timeoutMs = 5000) {
    QProcess process;
    process.start(program, arguments);
    ProcessRun run;
    run.finished =
        runEventsUntil([&] { return process.state() == QProcess::NotRunning; }, timeoutMs) &&
        process.error() != QProcess::FailedToStart && process.exitStatus() == QProcess::NormalExit;
    if (!run.finished) {
        process.kill();
        process.waitForFinished(1000);
        return run;
    }
    run.exitCode = process.exitCode();
    run.output = process.readAllStandardOutput();
    run.errors = process.readAllStandardError();
    return run;
}
