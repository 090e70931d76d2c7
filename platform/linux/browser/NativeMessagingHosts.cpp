// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/browser/NativeMessagingHosts.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace NativeMessagingHosts {

QList<BrowserDirectory> perUserDirectories(const QString& configHome, const QString& home) {
    const QDir config(configHome);
    return {
        {QStringLiteral("Chromium"),
         config.filePath(QStringLiteral("chromium/NativeMessagingHosts")), false},
        {QStringLiteral("Google Chrome"),
         config.filePath(QStringLiteral("google-chrome/NativeMessagingHosts")), false},
        {QStringLiteral("Brave"),
         config.filePath(QStringLiteral("BraveSoftware/Brave-Browser/NativeMessagingHosts")),
         false},
        {QStringLiteral("Microsoft Edge"),
         config.filePath(QStringLiteral("microsoft-edge/NativeMessagingHosts")), false},
        {QStringLiteral("Vivaldi"), config.filePath(QStringLiteral("vivaldi/NativeMessagingHosts")),
         false},
        // Firefox reads hosts only from here, whatever its profile directory.
        {QStringLiteral("Firefox"),
         QDir(home).filePath(QStringLiteral(".mozilla/native-messaging-hosts")), true},
    };
}

QList<BrowserDirectory> perUserDirectories() {
    return perUserDirectories(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation), QDir::homePath());
}

QString BrowserDirectory::browserDirectory() const {
    return QFileInfo(directory).path();
}

QString manifestPath(const QString& directory) {
    return QDir(directory).filePath(QString::fromLatin1(hostName) + QStringLiteral(".json"));
}

}  // namespace NativeMessagingHosts
