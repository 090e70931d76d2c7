#include "XdgAppGroupContainers.h"

#include <QDir>

std::optional<QString> XdgAppGroupContainers::containerDirectory(
    const QString& groupIdentifier) const {
    const QString runtimeDirectory = qEnvironmentVariable("XDG_RUNTIME_DIR");
    // XDG base directories must be absolute; a relative one is to be ignored.
    if (runtimeDirectory.isEmpty() || QDir::isRelativePath(runtimeDirectory)) {
        return std::nullopt;
    }
    return QDir(runtimeDirectory).filePath(QStringLiteral("app/") + groupIdentifier);
}
