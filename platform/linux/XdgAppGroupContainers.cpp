#include "XdgAppGroupContainers.h"

#include <QDir>

std::optional<QString> XdgAppGroupContainers::containerDirectory(
    const QString& groupIdentifier) const {
    const QString runtimeDirectory = qEnvironmentVariable("XDG_RUNTIME_DIR");
    // The base directory specification tells to ignore a relative path.
    if (runtimeDirectory.isEmpty() || QDir::isRelativePath(runtimeDirectory)) {
        return std::nullopt;
    }
    return QDir(runtimeDirectory).filePath(QStringLiteral("app/") + groupIdentifier);
}
