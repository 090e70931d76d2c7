// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/LocalCloudDatabase.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>

#include "platform/MainActor.h"
#include "platform/linux/cloud/CloudRecordCoding.h"
#include "shared/AtomicFile.h"

namespace {

// Records of the cloud are at most a megabyte; a bigger file is not one of ours.
constexpr qsizetype kLargestFile = 1024 * 1024;

QString systemMessage(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

const QString kJsonSuffix = QStringLiteral(".json");

CloudError recordNotFound() {
    return CloudError(CloudError::unknownItem, QStringLiteral("Record not found"));
}

}  // namespace

LocalCloudDatabase::LocalCloudDatabase(MainActor& mainActor, QString databaseDirectory)
    : mainActor_(mainActor), directory_(std::move(databaseDirectory)) {}

QString LocalCloudDatabase::zoneDirectory(const QString& databaseDirectory) {
    return QDir(databaseDirectory).filePath(QString::fromLatin1(defaultZoneName));
}

QString LocalCloudDatabase::subscriptionsDirectory(const QString& databaseDirectory) {
    return QDir(databaseDirectory).filePath(QStringLiteral("subscriptions"));
}

QString LocalCloudDatabase::recordPath(const QString& databaseDirectory,
                                       const QString& recordName) {
    return QDir(zoneDirectory(databaseDirectory)).filePath(recordName + kJsonSuffix);
}

std::optional<QByteArray> LocalCloudDatabase::readSmallFile(const QString& path,
                                                            FileVersion* version) {
    const QByteArray encoded = QFile::encodeName(path);
    const int fd = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) {
            return std::nullopt;
        }
        throw CloudError(CloudError::internalError,
                         QStringLiteral("Cannot read %1: %2").arg(path, systemMessage(error)));
    }
    const auto fail = [&](const QString& message) {
        ::close(fd);
        throw CloudError(CloudError::internalError,
                         QStringLiteral("Cannot read %1: %2").arg(path, message));
    };
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        fail(systemMessage(errno));
    }
    if (version) {
        constexpr qint64 billion = 1'000'000'000;
        *version = {quint64(status.st_dev), quint64(status.st_ino), qint64(status.st_size),
                    qint64(status.st_mtim.tv_sec) * billion + status.st_mtim.tv_nsec,
                    qint64(status.st_ctim.tv_sec) * billion + status.st_ctim.tv_nsec};
    }
    if (!S_ISREG(status.st_mode)) {
        fail(QStringLiteral("not a regular file"));
    }
    QByteArray content;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(systemMessage(errno));
        }
        if (count == 0) {
            break;
        }
        content.append(buffer, qsizetype(count));
        if (content.size() > kLargestFile) {
            fail(QStringLiteral("larger than %1 bytes").arg(kLargestFile));
        }
    }
    ::close(fd);
    return content;
}

CloudRecord LocalCloudDatabase::readRecord(const QString& databaseDirectory,
                                           const QString& recordName, FileVersion* version) {
    std::optional<CloudRecord> record = findRecord(databaseDirectory, recordName, version);
    if (!record) {
        throw recordNotFound();
    }
    return std::move(*record);
}

std::optional<CloudRecord> LocalCloudDatabase::findRecord(const QString& databaseDirectory,
                                                          const QString& recordName,
                                                          FileVersion* version) {
    if (!CloudRecordCoding::isValidRecordName(recordName)) {
        throw CloudError(CloudError::invalidArguments,
                         QStringLiteral("\"%1\" is not a valid record name").arg(recordName));
    }
    const QString path = recordPath(databaseDirectory, recordName);
    const auto content = readSmallFile(path, version);
    if (!content) {
        return std::nullopt;
    }
    CloudRecord record;
    try {
        record = CloudRecordCoding::decodeRecordFile(*content);
    } catch (const CloudError& error) {
        throw CloudError(error.code(), QStringLiteral("The record file %1 is malformed. %2")
                                           .arg(path, error.localizedDescription()));
    }
    if (record.recordName != recordName) {
        throw CloudError(CloudError::internalError,
                         QStringLiteral("The record file %1 holds the record \"%2\"")
                             .arg(path, record.recordName));
    }
    return record;
}

void LocalCloudDatabase::writeRecord(const QString& databaseDirectory, const CloudRecord& record) {
    const QByteArray content = CloudRecordCoding::encodeRecordFile(record);
    try {
        AtomicFile::makeDirectories(zoneDirectory(databaseDirectory));
        AtomicFile::write(recordPath(databaseDirectory, record.recordName), content);
    } catch (const FileOperationError& error) {
        throw CloudError(CloudError::internalError, error.localizedDescription());
    }
}

bool LocalCloudDatabase::deleteRecord(const QString& databaseDirectory, const QString& recordName) {
    if (!CloudRecordCoding::isValidRecordName(recordName)) {
        throw CloudError(CloudError::invalidArguments,
                         QStringLiteral("\"%1\" is not a valid record name").arg(recordName));
    }
    const QString path = recordPath(databaseDirectory, recordName);
    if (::unlink(QFile::encodeName(path).constData()) == 0) {
        return true;
    }
    const int error = errno;
    if (error == ENOENT) {
        return false;
    }
    throw CloudError(CloudError::internalError,
                     QStringLiteral("Cannot delete %1: %2").arg(path, systemMessage(error)));
}

LocalCloudDatabase::Subscriptions LocalCloudDatabase::readSubscriptions(
    const QString& databaseDirectory) {
    Subscriptions found;
    const QDir directory(subscriptionsDirectory(databaseDirectory));
    // Hidden names are left out, and so are the temporary files of atomic writes, whose names
    // end in a random suffix after ".json".
    const QStringList names = directory.entryList({QStringLiteral("*.json")},
                                                  QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        const QString path = directory.filePath(name);
        try {
            const auto content = readSmallFile(path);
            if (!content) {
                continue;  // deleted since the listing
            }
            QuerySubscription subscription;
            try {
                subscription = CloudRecordCoding::decodeSubscriptionFile(*content);
            } catch (const CloudError& error) {
                throw CloudError(error.code(),
                                 QStringLiteral("The subscription file %1 is malformed. %2")
                                     .arg(path, error.localizedDescription()));
            }
            if (subscription.subscriptionID + kJsonSuffix != name) {
                throw CloudError(CloudError::internalError,
                                 QStringLiteral("The subscription file %1 holds the subscription "
                                                "\"%2\"")
                                     .arg(path, subscription.subscriptionID));
            }
            found.subscriptions.append(subscription);
        } catch (const CloudError& problem) {
            found.problems.append(problem);
        }
    }
    return found;
}

void LocalCloudDatabase::writeSubscription(const QString& databaseDirectory,
                                           const QuerySubscription& subscription) {
    const QByteArray content = CloudRecordCoding::encodeSubscriptionFile(subscription);
    const QString directory = subscriptionsDirectory(databaseDirectory);
    const QString path = QDir(directory).filePath(subscription.subscriptionID + kJsonSuffix);
    // The same subscription is saved again at every run of the checks: a file of the user's
    // own that already says it is left alone rather than synced to disk again.
    struct stat status {};
    try {
        if (::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode) &&
            status.st_uid == ::getuid() && (status.st_mode & 07777) == 0600 &&
            readSmallFile(path) == content) {
            return;
        }
    } catch (const CloudError&) {
        // Unreadable: written anew below.
    }
    try {
        AtomicFile::makeDirectories(directory);
        AtomicFile::write(path, content);
    } catch (const FileOperationError& error) {
        throw CloudError(CloudError::internalError, error.localizedDescription());
    }
}

void LocalCloudDatabase::fetchRecord(
    const QString& recordName, std::function<void(std::variant<CloudRecord, CloudError>)> answer) {
    // The file is read when the answer is due, so the answer says what is there then. The job
    // holds no pointer to this object, which may be gone by then.
    mainActor_.post([directory = directory_, recordName, answer = std::move(answer)] {
        std::variant<CloudRecord, CloudError> result = CloudError(CloudError::internalError, {});
        try {
            std::optional<CloudRecord> record = findRecord(directory, recordName);
            result = record ? std::variant<CloudRecord, CloudError>(std::move(*record))
                            : recordNotFound();
        } catch (const CloudError& error) {
            result = error;
        }
        answer(std::move(result));
    });
}

void LocalCloudDatabase::saveSubscription(const QuerySubscription& subscription,
                                          std::function<void(std::optional<CloudError>)> done) {
    mainActor_.post([directory = directory_, subscription, done = std::move(done)] {
        std::optional<CloudError> failure;
        try {
            writeSubscription(directory, subscription);
        } catch (const CloudError& error) {
            failure = error;
        }
        done(std::move(failure));
    });
}
