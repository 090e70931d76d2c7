// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/ProcRunningApplications.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <optional>

namespace {

const QString deletedSuffix = QStringLiteral(" (deleted)");

QString withoutDeletedSuffix(QString path) {
    if (path.endsWith(deletedSuffix)) {
        path.chop(deletedSuffix.size());
    }
    return path;
}

// The target of a symbolic link as the kernel wrote it, without resolving it further.
QString linkTarget(const QString& link) {
    QByteArray buffer(4096, Qt::Uninitialized);
    const ssize_t length =
        ::readlink(QFile::encodeName(link).constData(), buffer.data(), std::size_t(buffer.size()));
    if (length <= 0 || length >= buffer.size()) {
        return {};
    }
    buffer.truncate(length);
    return QFile::decodeName(buffer);
}

const QByteArray sessionBusVariable = QByteArrayLiteral("DBUS_SESSION_BUS_ADDRESS=");

// The session bus address a process was started with, empty when it had none; nothing when its
// environment cannot be read.
std::optional<QByteArray> startingSessionBus(const QString& environFile) {
    QFile file(environFile);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    for (const QByteArray& entry : file.readAll().split('\0')) {
        if (entry.startsWith(sessionBusVariable)) {
            return entry.mid(sessionBusVariable.size());
        }
    }
    return QByteArray();
}

// From /proc/<pid>/stat: the parent (field 4) and the clock tick since boot at which the process
// started (field 22), counted after the parenthesised command name, which may itself hold
// spaces and parentheses.
struct ProcessStat {
    qint32 parent = 0;
    quint64 startTick = 0;
};

ProcessStat processStat(const QString& statFile) {
    QFile file(statFile);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray stat = file.readAll();
    const qsizetype commandEnd = stat.lastIndexOf(')');
    if (commandEnd < 0) {
        return {};
    }
    // The fields after the name start with the state, field 3.
    const QList<QByteArray> fields = stat.mid(commandEnd + 1).simplified().split(' ');
    const auto field = [&fields](qsizetype number) {
        return fields.size() > number - 3 ? fields[number - 3] : QByteArray();
    };
    return {field(4).toInt(), field(22).toULongLong()};
}

}  // namespace

bool ProcRunningApplications::isOtherRun(const QString& cmdlineFile) const {
    if (otherRuns_.isEmpty()) {
        return false;
    }
    QFile file(cmdlineFile);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QList<QByteArray> arguments = file.readAll().split('\0');
    return std::any_of(arguments.begin() + std::min<qsizetype>(1, arguments.size()),
                       arguments.end(), [this](const QByteArray& argument) {
                           return otherRuns_.contains(QString::fromLocal8Bit(argument));
                       });
}

ProcRunningApplications::ProcRunningApplications(QStringList otherRuns)
    : ProcRunningApplications(linkTarget(QStringLiteral("/proc/self/exe")), QStringLiteral("/proc"),
                              qgetenv("DBUS_SESSION_BUS_ADDRESS"), std::move(otherRuns)) {}

ProcRunningApplications::ProcRunningApplications(QString executablePath, QString procRoot,
                                                 QByteArray sessionBusAddress,
                                                 QStringList otherRuns)
    : executablePath_(withoutDeletedSuffix(std::move(executablePath))),
      executableName_(QFileInfo(executablePath_).fileName()),
      procRoot_(std::move(procRoot)),
      sessionBusAddress_(std::move(sessionBusAddress)),
      otherRuns_(std::move(otherRuns)) {}

QList<RunningApplications::RunningApplication> ProcRunningApplications::runningApplications(
    const QString&) const {
    QList<RunningApplication> copies;
    QHash<qint32, qint32> parents;
    if (executablePath_.isEmpty()) {
        return copies;
    }
    const QDir proc(procRoot_);
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const qint32 pid = entry.toInt(&isNumber);
        if (!isNumber || pid <= 0) {
            continue;
        }
        struct stat status {};
        if (::stat(QFile::encodeName(proc.filePath(entry)).constData(), &status) != 0 ||
            status.st_uid != ::getuid()) {
            continue;
        }
        // Other users' links cannot be read; a process may also end while being looked at.
        const QString executable =
            withoutDeletedSuffix(linkTarget(proc.filePath(entry + QStringLiteral("/exe"))));
        if (executable.isEmpty() || QFileInfo(executable).fileName() != executableName_) {
            continue;
        }
        if (startingSessionBus(proc.filePath(entry + QStringLiteral("/environ"))) !=
                sessionBusAddress_ ||
            isOtherRun(proc.filePath(entry + QStringLiteral("/cmdline")))) {
            continue;
        }
        const ProcessStat stat = processStat(proc.filePath(entry + QStringLiteral("/stat")));
        copies.append({pid, executable, stat.startTick});
        parents.insert(pid, stat.parent);
    }
    // A process forked by a copy (a helper about to start another program, the sanitizers'
    // leak checker) shows the same program for a moment; it is no copy of its own.
    copies.removeIf([&parents](const RunningApplication& copy) {
        return parents.contains(parents.value(copy.processIdentifier));
    });
    std::sort(copies.begin(), copies.end(), [](const auto& a, const auto& b) {
        return a.processIdentifier < b.processIdentifier;
    });
    return copies;
}

qint32 ProcRunningApplications::currentProcessIdentifier() const {
    return qint32(::getpid());
}

void ProcRunningApplications::terminate(qint32 processIdentifier) {
    if (processIdentifier > 0) {
        ::kill(pid_t(processIdentifier), SIGTERM);
    }
}
