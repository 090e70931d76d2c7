#include "ProcRunningApplications.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

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

}  // namespace

ProcRunningApplications::ProcRunningApplications()
    : ProcRunningApplications(linkTarget(QStringLiteral("/proc/self/exe")),
                              QStringLiteral("/proc")) {}

ProcRunningApplications::ProcRunningApplications(QString executablePath, QString procRoot)
    : executablePath_(withoutDeletedSuffix(std::move(executablePath))),
      procRoot_(std::move(procRoot)) {}

QList<RunningApplications::RunningApplication> ProcRunningApplications::runningApplications(
    const QString&) const {
    QList<RunningApplication> copies;
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
        const QString executable = linkTarget(proc.filePath(entry + QStringLiteral("/exe")));
        if (!executable.isEmpty() && withoutDeletedSuffix(executable) == executablePath_) {
            copies.append({pid, withoutDeletedSuffix(executable)});
        }
    }
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
