// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/XdgAppGroupContainers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include "shared/AtomicFile.h"

namespace {

// Whether `directory` may hold our files: missing (it is made owner-only when needed), or a
// real folder of this user's, made owner-only here if it was not. One lstat answers all of it:
// the AutoFill helper asks on every request the browser makes.
bool isOursOrMissing(const QString& directory) {
    struct stat status {};
    if (::lstat(QFile::encodeName(directory).constData(), &status) != 0) {
        // Missing; or out of reach, which the first write there reports.
        return true;
    }
    QString problem;
    if (S_ISLNK(status.st_mode)) {
        problem = QStringLiteral("is a symbolic link");
    } else if (!S_ISDIR(status.st_mode)) {
        problem = QStringLiteral("is not a folder");
    } else if (status.st_uid != ::getuid()) {
        problem = QStringLiteral("belongs to another user");
    }
    if (!problem.isEmpty()) {
        AtomicFile::noticeFault(directory + QStringLiteral(" ") + problem +
                                QStringLiteral(": the files shared with AutoFill are not kept "
                                               "there; remove it, and the app makes its own"));
        return false;
    }
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) &&
        QFile::setPermissions(directory, AtomicFile::ownerOnlyFolder)) {
        AtomicFile::noticeFault(directory +
                                QStringLiteral(" could be entered by other users: it is now "
                                               "the user's own (0700)"));
    }
    return true;
}

}  // namespace

std::optional<QString> XdgAppGroupContainers::containerDirectory(
    const QString& groupIdentifier) const {
    const QString runtimeDirectory = qEnvironmentVariable("XDG_RUNTIME_DIR");
    // XDG base directories must be absolute; a relative one is to be ignored.
    if (runtimeDirectory.isEmpty() || QDir::isRelativePath(runtimeDirectory)) {
        return std::nullopt;
    }
    const QString containers = QDir(runtimeDirectory).filePath(QStringLiteral("app"));
    const QString container = QDir(containers).filePath(groupIdentifier);
    if (!isOursOrMissing(containers) || !isOursOrMissing(container)) {
        return std::nullopt;
    }
    return container;
}
