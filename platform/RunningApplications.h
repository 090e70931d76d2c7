#pragma once

#include <QList>
#include <QString>
#include <optional>

// The running copies of an application, and a way to end one.
class RunningApplications {
public:
    struct RunningApplication {
        qint32 processIdentifier = 0;
        // Where the copy was started from; absent when that cannot be told.
        std::optional<QString> bundleURL;
        bool operator==(const RunningApplication&) const = default;
    };

    virtual ~RunningApplications() = default;
    // The copies of the application `bundleIdentifier` names, this process included.
    virtual QList<RunningApplication> runningApplications(
        const QString& bundleIdentifier) const = 0;
    virtual qint32 currentProcessIdentifier() const = 0;
    // Asks the process to end (the terminate signal); whether it could be sent is not reported.
    virtual void terminate(qint32 processIdentifier) = 0;
};
