// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/browser/NativeMessagingHostInstaller.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "shared/AtomicFile.h"

namespace NativeMessagingHostInstaller {

QByteArray manifest(const QString& hostPath, bool firefoxFamily) {
    QJsonObject object{
        {QStringLiteral("name"), QString::fromLatin1(NativeMessagingHosts::hostName)},
        {QStringLiteral("description"),
         QStringLiteral("Zorvik AutoFill: fills one-time codes from your phone")},
        {QStringLiteral("path"), hostPath},
        {QStringLiteral("type"), QStringLiteral("stdio")},
    };
    if (firefoxFamily) {
        object.insert(QStringLiteral("allowed_extensions"),
                      QJsonArray{QString::fromLatin1(NativeMessagingHosts::firefoxExtensionID)});
    } else {
        object.insert(
            QStringLiteral("allowed_origins"),
            QJsonArray{QString::fromLatin1(NativeMessagingHosts::chromiumExtensionOrigin)});
    }
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

QList<Outcome> install(const QString& hostPath,
                       const QList<NativeMessagingHosts::BrowserDirectory>& browsers) {
    QList<Outcome> outcomes;
    for (const auto& browser : browsers) {
        if (!QFileInfo(browser.browserDirectory()).isDir()) {
            continue;
        }
        Outcome outcome{browser.browser, NativeMessagingHosts::manifestPath(browser.directory), {}};
        try {
            // The browser reads the manifest; it holds nothing secret.
            AtomicFile::makeDirectories(browser.directory,
                                        AtomicFile::ownerOnly | QFileDevice::ExeOwner |
                                            QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                                            QFileDevice::ReadOther | QFileDevice::ExeOther);
            AtomicFile::write(
                outcome.manifestPath, manifest(hostPath, browser.firefoxFamily),
                AtomicFile::ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        } catch (const FileOperationError& failure) {
            outcome.error = failure.localizedDescription();
        }
        outcomes.append(outcome);
    }
    return outcomes;
}

QList<Outcome> uninstall(const QList<NativeMessagingHosts::BrowserDirectory>& browsers) {
    QList<Outcome> outcomes;
    for (const auto& browser : browsers) {
        QFile file(NativeMessagingHosts::manifestPath(browser.directory));
        if (!file.exists()) {
            continue;
        }
        Outcome outcome{browser.browser, file.fileName(), {}};
        if (!file.remove()) {
            outcome.error = file.errorString() + QStringLiteral(": ") + file.fileName();
        }
        outcomes.append(outcome);
    }
    return outcomes;
}

}  // namespace NativeMessagingHostInstaller
