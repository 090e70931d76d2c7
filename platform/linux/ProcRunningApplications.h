// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QStringList>

#include "platform/RunningApplications.h"

// The running copies of this program on Linux: the processes of this user in this desktop
// session (the same session bus address, or none for both) whose executable (/proc/<pid>/exe)
// has this program's file name, wherever it is installed: a build started from its build folder
// takes over from the installed one. A copy whose program file has since been replaced, as by
// installing a new build, still counts: the kernel then names its executable "<path> (deleted)".
// Copies in another session of the same user are left alone; they have a desktop of their own.
class ProcRunningApplications final : public RunningApplications {
public:
    // Copies of the running program in this session, as /proc shows them. A process started
    // with one of `otherRuns` among its arguments (a command that answers and ends) is none.
    explicit ProcRunningApplications(QStringList otherRuns = {});
    // Copies of `executablePath` under `procRoot` started with `sessionBusAddress`, for tests.
    ProcRunningApplications(QString executablePath, QString procRoot, QByteArray sessionBusAddress,
                            QStringList otherRuns = {});

    QList<RunningApplication> runningApplications(const QString& bundleIdentifier) const override;
    qint32 currentProcessIdentifier() const override;
    void terminate(qint32 processIdentifier) override;

private:
    bool isOtherRun(const QString& cmdlineFile) const;

    QString executablePath_;
    QString executableName_;
    QString procRoot_;
    QByteArray sessionBusAddress_;
    QStringList otherRuns_;
};
