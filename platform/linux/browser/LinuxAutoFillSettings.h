// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

#include "platform/Workspace.h"
#include "platform/linux/browser/NativeMessagingHosts.h"

class SystemLog;

// Turning AutoFill on, the Linux way: there is no system pane for credential providers, so this
// registers the AutoFill helper with the user's browsers and opens the folder of the browser
// extension, whose how-to tells the user how to load it.
class LinuxAutoFillSettings final : public AutoFillSettings {
public:
    LinuxAutoFillSettings(Workspace& workspace, SystemLog& systemLog, QString hostPath,
                          QString extensionDirectory,
                          QList<NativeMessagingHosts::BrowserDirectory> browsers);

    // The helper beside `applicationDirectory` (installed side by side, or in its own folder of
    // the build tree), else `fallback`.
    static QString locateHost(const QString& applicationDirectory, const QString& fallback);
    // The installed extension under `applicationDirectory`'s share folder, else `fallback`.
    static QString locateExtension(const QString& applicationDirectory, const QString& fallback);

    void openCredentialProviderAppSettings() override;

private:
    Workspace& workspace_;
    SystemLog& systemLog_;
    QString hostPath_;
    QString extensionDirectory_;
    QList<NativeMessagingHosts::BrowserDirectory> browsers_;
};
