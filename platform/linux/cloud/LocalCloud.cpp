// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/LocalCloud.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStandardPaths>
#include <limits>

#include "platform/MainActor.h"
#include "shared/AtomicFile.h"

LocalCloud::LocalCloud(MainActor& mainActor, QString rootDirectory)
    : mainActor_(mainActor),
      rootDirectory_(std::move(rootDirectory)),
      database_(mainActor, privateDatabaseDirectory(rootDirectory_)),
      remoteNotifications_(std::make_unique<LocalCloudRemoteNotifications>(
          mainActor, privateDatabaseDirectory(rootDirectory_),
          QString::fromLatin1(containerIdentifier))) {}

LocalCloud::~LocalCloud() = default;

QString LocalCloud::standardRootDirectory() {
    // $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(dataHome).filePath(QStringLiteral("net.brontal.zorvik/cloud/") +
                                   QString::fromLatin1(containerIdentifier));
}

QString LocalCloud::accountFilePath(const QString& rootDirectory) {
    return QDir(rootDirectory).filePath(QStringLiteral("account.json"));
}

QString LocalCloud::privateDatabaseDirectory(const QString& rootDirectory) {
    return QDir(rootDirectory).filePath(QStringLiteral("private"));
}

int LocalCloud::readAccountStatus(const QString& rootDirectory) {
    const QString path = accountFilePath(rootDirectory);
    const auto content = LocalCloudDatabase::readSmallFile(path);
    if (!content) {
        return available;
    }
    const auto malformed = [&](const QString& problem) {
        return CloudError(
            CloudError::internalError,
            QStringLiteral("The account file %1 is malformed: %2").arg(path, problem));
    };
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(*content, &error);
    if (error.error != QJsonParseError::NoError) {
        throw malformed(QStringLiteral("%1 at byte %2").arg(error.errorString()).arg(error.offset));
    }
    if (!document.isObject()) {
        throw malformed(QStringLiteral("it is not a JSON object"));
    }
    const QJsonValue status = document.object().value(QStringLiteral("status"));
    constexpr qint64 notWhole = std::numeric_limits<qint64>::min();
    const qint64 number = status.toInteger(notWhole);
    if (!status.isDouble() || number == notWhole || number < std::numeric_limits<int>::min() ||
        number > std::numeric_limits<int>::max()) {
        throw malformed(QStringLiteral("it has no whole number \"status\""));
    }
    return int(number);
}

void LocalCloud::requireReadableRecords(const QString& rootDirectory) {
    const QString zone = LocalCloudDatabase::zoneDirectory(privateDatabaseDirectory(rootDirectory));
    const QFileInfo info(zone);
    if (!info.exists() && !info.isSymLink()) {
        return;  // made with the first record
    }
    QString problem;
    if (!info.isDir()) {
        problem = QStringLiteral("it is not a folder");
    } else if (!info.isReadable() || !info.isExecutable()) {
        problem = QStringLiteral("its permissions do not let this user read it");
    }
    if (!problem.isEmpty()) {
        throw CloudError(
            CloudError::internalError,
            QStringLiteral("the cloud folder %1 cannot be read: %2").arg(zone, problem));
    }
}

void LocalCloud::writeAccountStatus(const QString& rootDirectory, int status) {
    const QByteArray content = QJsonDocument(QJsonObject{{QStringLiteral("status"), status}})
                                   .toJson(QJsonDocument::Compact) +
                               '\n';
    try {
        AtomicFile::makeDirectories(rootDirectory);
        AtomicFile::write(accountFilePath(rootDirectory), content);
    } catch (const FileOperationError& error) {
        throw CloudError(CloudError::internalError, error.localizedDescription());
    }
}

void LocalCloud::accountStatus(std::function<void(std::variant<int, CloudError>)> answer) {
    mainActor_.post([root = rootDirectory_, answer = std::move(answer)] {
        std::variant<int, CloudError> result = available;
        try {
            result = readAccountStatus(root);
            // Signed in, but no record could be read from a folder that cannot be: the account
            // row says so rather than "signed in".
            requireReadableRecords(root);
        } catch (const CloudError& error) {
            result = error;
        }
        answer(std::move(result));
    });
}
