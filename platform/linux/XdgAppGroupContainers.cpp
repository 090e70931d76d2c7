// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/XdgAppGroupContainers.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "shared/AtomicFile.h"

namespace {

// Whether `directory` may hold our files: missing (it is made owner-only when needed), or a
// real folder of this user's, made owner-only here if it was not.
bool isOursOrMissing(const QString& directory) {
    const QFileInfo info(directory);
    if (!info.isSymLink() && !info.exists()) {
        return true;
    }
    QString problem;
    if (info.isSymLink()) {
        problem = QStringLiteral("is a symbolic link");
    } else if (!info.isDir()) {
        problem = QStringLiteral("is not a folder");
    } else if (info.ownerId() != ::getuid()) {
        problem = QStringLiteral("belongs to another user");
    }
    if (!problem.isEmpty()) {
        AtomicFile::noticeFault(directory + QStringLiteral(" ") + problem +
                                QStringLiteral(": the files shared with AutoFill are not kept "
                                               "there; remove it, and the app makes its own"));
        return false;
    }
    constexpr auto othersMay = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                               QFileDevice::ExeGroup | QFileDevice::ReadOther |
                               QFileDevice::WriteOther | QFileDevice::ExeOther;
    if ((info.permissions() & othersMay) &&
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
