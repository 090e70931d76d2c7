// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
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
inline bool runEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000,
                           int pollMs = 5) {
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

// Runs `program` on `input` to its end with the event loop going; kills it after `timeoutMs`.
inline ProcessRun runProcess(const QString& program, const QStringList& arguments,
                             int timeoutMs = 5000, const QByteArray& input = {}) {
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
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

// Writes, in `directory`, the configuration of a session bus of its own that listens there
// (never on the session's socket) and serves nothing: for checks that need a bus without
// the session's peers. Answers the file's path.
inline QString writePrivateBusConfig(const QString& directory) {
    const QString path = QDir(directory).filePath(QStringLiteral("bus.conf"));
    QFile config(path);
    if (config.open(QIODevice::WriteOnly)) {
        config.write("<busconfig><type>session</type><listen>unix:dir=" + directory.toUtf8() +
                     "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow "
                     "send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow "
                     "own=\"*\"/></policy></busconfig>");
    }
    return path;
}
