// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <optional>
#include <tuple>

// The running copies of an application, and a way to end one.
class RunningApplications {
public:
    struct RunningApplication {
        qint32 processIdentifier = 0;
        // Where the copy was started from; absent when that cannot be told.
        std::optional<QString> bundleURL;
        // When the copy's process started, on a clock that only orders the starts (0 when it
        // cannot be told). Every copy reads the same value for a process, so all of them agree
        // on which one is the newest.
        quint64 launchOrder = 0;
        bool operator==(const RunningApplication&) const = default;
    };

    // Whether `a` started after `b`; the process identifier decides between starts in the same
    // clock tick.
    static bool startedAfter(const RunningApplication& a, const RunningApplication& b) {
        return std::tie(a.launchOrder, a.processIdentifier) >
               std::tie(b.launchOrder, b.processIdentifier);
    }

    virtual ~RunningApplications() = default;
    // The copies of the application `bundleIdentifier` names, this process included.
    virtual QList<RunningApplication> runningApplications(
        const QString& bundleIdentifier) const = 0;
    virtual qint32 currentProcessIdentifier() const = 0;
    // Asks the process to end (the terminate signal); whether it could be sent is not reported.
    virtual void terminate(qint32 processIdentifier) = 0;
};
