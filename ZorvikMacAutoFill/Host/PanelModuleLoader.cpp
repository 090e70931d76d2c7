// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMacAutoFill/Host/PanelModuleLoader.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace PanelModuleLoader {

QStringList candidates(const QString& executable, const QString& installedDirectory) {
    // Without the helper's own place (a binary replaced while it ran, no /proc) a relative path
    // would be taken from the working folder, which the browser chooses: nothing is looked for.
    if (!QFileInfo(executable).isAbsolute()) {
        return {};
    }
    const QDir folder = QFileInfo(executable).dir();
    const QString name = QString::fromLatin1(fileName);
    return {QDir::cleanPath(folder.filePath(name)),
            QDir::cleanPath(folder.filePath(QDir(installedDirectory).filePath(name)))};
}

Result load(const QStringList& candidates) {
    if (candidates.isEmpty()) {
        return {nullptr, QStringLiteral("the helper's own folder is unknown, so %1 is not looked "
                                        "for")
                             .arg(QString::fromLatin1(fileName))};
    }
    for (const QString& path : candidates) {
        if (!QFileInfo(path).isFile()) {
            continue;
        }
        QLibrary library(path);
        // A symbol the module lacks shows now, as a reason, instead of ending the process later;
        // and the interface's code stays until the process ends.
        library.setLoadHints(QLibrary::ResolveAllSymbolsHint | QLibrary::PreventUnloadHint);
        if (!library.load()) {
            return {nullptr, library.errorString()};
        }
        const auto entry =
            reinterpret_cast<AutoFillInterfaceEntry>(library.resolve(autoFillInterfaceEntryName));
        if (!entry) {
            return {nullptr, QStringLiteral("%1 is not the panel module of this version of the "
                                            "helper (it has no %2)")
                                 .arg(path, QString::fromLatin1(autoFillInterfaceEntryName))};
        }
        return {entry, {}};
    }
    return {nullptr,
            QStringLiteral("%1 is missing: not at %2")
                .arg(QString::fromLatin1(fileName), candidates.join(QStringLiteral(" nor at ")))};
}

}  // namespace PanelModuleLoader
