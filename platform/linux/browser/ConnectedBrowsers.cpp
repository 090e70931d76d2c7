// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/browser/ConnectedBrowsers.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include "shared/AtomicFile.h"
#include "shared/Iso8601.h"

namespace ConnectedBrowsers {

namespace {

QString key(Family family) {
    return family == Family::firefox ? QStringLiteral("firefox") : QStringLiteral("chromium");
}

QString path(const QString& directory) {
    return QDir(directory).filePath(QString::fromLatin1(fileName));
}

QJsonObject load(const QString& directory) {
    // A record written by nobody else is small; anything larger is not ours.
    const auto bytes = AtomicFile::read(path(directory), 64 * 1024);
    return bytes ? QJsonDocument::fromJson(*bytes).object() : QJsonObject();
}

bool save(const QString& directory, const QJsonObject& families) {
    try {
        AtomicFile::makeDirectories(directory);
        AtomicFile::write(path(directory), QJsonDocument(families).toJson(QJsonDocument::Compact));
        return true;
    } catch (const FileOperationError&) {
        // Without the record AutoFill merely reads as not yet connected.
        return false;
    }
}

}  // namespace

QString standardDirectory() {
    // $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(dataHome).filePath(QStringLiteral("net.brontal.zorvik"));
}

bool record(const QString& directory, Family family, Instant now) {
    QJsonObject families = load(directory);
    if (families.value(key(family)).isString()) {
        return false;
    }
    families.insert(key(family), Iso8601::format(now).value_or(QString()));
    save(directory, families);
    return true;
}

bool hasConnected(const QString& directory, Family family) {
    return load(directory).value(key(family)).isString();
}

void adoptEarlierRecord(const QString& earlierDirectory, const QString& directory) {
    if (!QFile::exists(path(earlierDirectory))) {
        return;
    }
    const QJsonObject earlier = load(earlierDirectory);
    QJsonObject families = load(directory);
    bool changed = false;
    for (const Family family : {Family::chromium, Family::firefox}) {
        const QJsonValue connectedAt = earlier.value(key(family));
        if (connectedAt.isString() && !families.value(key(family)).isString()) {
            families.insert(key(family), connectedAt);
            changed = true;
        }
    }
    // The earlier file goes only once its content is safe in the new place.
    if (!changed || save(directory, families)) {
        QFile::remove(path(earlierDirectory));
    }
}

}  // namespace ConnectedBrowsers
