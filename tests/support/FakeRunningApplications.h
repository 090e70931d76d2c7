// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/RunningApplications.h"

// Running copies in memory; terminate() records the signal and ends nothing.
class FakeRunningApplications final : public RunningApplications {
public:
    QList<RunningApplication> runningApplications(const QString& bundleIdentifier) const override {
        askedFor.append(bundleIdentifier);
        return copies;
    }
    qint32 currentProcessIdentifier() const override { return ownPid; }
    void terminate(qint32 processIdentifier) override { terminated.append(processIdentifier); }

    qint32 ownPid = 4711;
    QList<RunningApplication> copies;
    QList<qint32> terminated;
    mutable QStringList askedFor;
};
