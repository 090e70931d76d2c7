// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/desktop/ShownNotificationsFile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "platform/linux/XdgAppGroupContainers.h"
#include "shared/AtomicFile.h"
#include "shared/LatestCodeStore.h"

namespace {

const auto kNotifications = QStringLiteral("notifications");
const auto kServer = QStringLiteral("server");
const auto kId = QStringLiteral("id");

}  // namespace

std::optional<QString> ShownNotificationsFile::standardDirectory() {
    return XdgAppGroupContainers().containerDirectory(
        QString::fromLatin1(LatestCodeStore::groupIdentifier));
}

QList<ShownNotification> ShownNotificationsFile::load() const {
    const auto bytes = AtomicFile::read(path_);
    if (!bytes) {
        return {};
    }
    QList<ShownNotification> shown;
    const QJsonArray entries = QJsonDocument::fromJson(*bytes)[kNotifications].toArray();
    for (const QJsonValue& entry : entries) {
        const QString server = entry[kServer].toString();
        const qint64 id = entry[kId].toInteger();
        if (!server.isEmpty() && id > 0 && id <= 0xffffffff) {
            shown.append({server, uint(id)});
        }
    }
    return shown;
}

void ShownNotificationsFile::save(const QList<ShownNotification>& shown) const {
    if (shown.isEmpty()) {
        QFile::remove(path_);
        return;
    }
    QJsonArray entries;
    for (const ShownNotification& notification : shown) {
        entries.append(QJsonObject{{kServer, notification.server}, {kId, qint64(notification.id)}});
    }
    try {
        AtomicFile::makeDirectories(QFileInfo(path_).path());
        AtomicFile::write(
            path_,
            QJsonDocument(QJsonObject{{kNotifications, entries}}).toJson(QJsonDocument::Compact));
    } catch (const FileOperationError&) {
        // Nothing better to do: the notification still goes at its expiry.
    }
}
