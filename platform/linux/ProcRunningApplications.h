#pragma once

#include "RunningApplications.h"

// The running copies of this program on Linux: the processes of this user whose executable
// (/proc/<pid>/exe) is this program's. A copy whose program file has since been replaced, as by
// installing a new build, still counts: the kernel then names its executable "<path> (deleted)".
class ProcRunningApplications final : public RunningApplications {
public:
    // Copies of the running program, as /proc shows them.
    ProcRunningApplications();
    // Copies of `executablePath` under `procRoot`, for tests.
    ProcRunningApplications(QString executablePath, QString procRoot);

    QList<RunningApplication> runningApplications(const QString& bundleIdentifier) const override;
    qint32 currentProcessIdentifier() const override;
    void terminate(qint32 processIdentifier) override;

private:
    QString executablePath_;
    QString procRoot_;
};
