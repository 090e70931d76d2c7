#include "ConnectedBrowsers.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include "AtomicFile.h"
#include "Iso8601.h"

namespace ConnectedBrowsers {

namespace {

QString key(Family family) {
    return family == Family::firefox ? QStringLiteral("firefox") : QStringLiteral("chromium");
}

QString path(const QString& containerDirectory) {
    return QDir(containerDirectory).filePath(QString::fromLatin1(fileName));
}

QJsonObject load(const QString& containerDirectory) {
    QFile file(path(containerDirectory));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    // A record written by nobody else is small; anything larger is not ours.
    return QJsonDocument::fromJson(file.read(64 * 1024)).object();
}

}  // namespace

void record(const QString& containerDirectory, Family family, Instant now) {
    QJsonObject families = load(containerDirectory);
    if (families.value(key(family)).isString()) {
        return;
    }
    families.insert(key(family), Iso8601::format(now).value_or(QString()));
    try {
        AtomicFile::makeDirectories(containerDirectory);
        AtomicFile::write(path(containerDirectory),
                          QJsonDocument(families).toJson(QJsonDocument::Compact));
    } catch (const FileOperationError&) {
        // Without the record AutoFill merely reads as not yet connected.
    }
}

bool hasConnected(const QString& containerDirectory, Family family) {
    return load(containerDirectory).value(key(family)).isString();
}

}  // namespace ConnectedBrowsers
