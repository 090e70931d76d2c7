// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/browser/LinuxAutoFillSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "platform/Logger.h"
#include "platform/linux/browser/NativeMessagingHostInstaller.h"

LinuxAutoFillSettings::LinuxAutoFillSettings(Workspace& workspace, SystemLog& systemLog,
                                             QString hostPath, QString extensionDirectory,
                                             QList<NativeMessagingHosts::BrowserDirectory> browsers)
    : workspace_(workspace),
      systemLog_(systemLog),
      hostPath_(std::move(hostPath)),
      extensionDirectory_(std::move(extensionDirectory)),
      browsers_(std::move(browsers)) {}

QString LinuxAutoFillSettings::locateHost(const QString& applicationDirectory,
                                          const QString& fallback) {
    const QDir directory(applicationDirectory);
    for (const QString& candidate :
         {directory.filePath(QStringLiteral("ZorvikMacAutoFill")),
          directory.filePath(QStringLiteral("../ZorvikMacAutoFill/ZorvikMacAutoFill"))}) {
        if (QFileInfo(candidate).isExecutable()) {
            return QFileInfo(candidate).canonicalFilePath();
        }
    }
    return fallback;
}

QString LinuxAutoFillSettings::locateExtension(const QString& applicationDirectory,
                                               const QString& fallback) {
    const QString installed =
        QDir(applicationDirectory).filePath(QStringLiteral("../share/zorvik/browser-extension"));
    return QFileInfo(installed).isDir() ? QFileInfo(installed).canonicalFilePath() : fallback;
}

void LinuxAutoFillSettings::openCredentialProviderAppSettings() {
    const Logger log(systemLog_, QStringLiteral("net.brontal.zorvik"), QStringLiteral("autofill"));
    const auto outcomes = NativeMessagingHostInstaller::install(hostPath_, browsers_);
    if (outcomes.isEmpty()) {
        log.error("AutoFill: no supported browser found to register the helper with");
    }
    for (const auto& outcome : outcomes) {
        if (outcome.error.isEmpty()) {
            log.info("AutoFill: helper registered with %{public}s (%{public}s)", outcome.browser,
                     outcome.manifestPath);
        } else {
            log.error("AutoFill: could not register the helper with %{public}s: %{public}s",
                      outcome.browser, outcome.error);
        }
    }
    // The folder holds the extension and its how-to.
    workspace_.openURL(QUrl::fromLocalFile(extensionDirectory_).toString());
}
