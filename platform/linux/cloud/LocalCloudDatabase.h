// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <variant>

#include "platform/CloudContainer.h"

class MainActor;

// The private database of the embedded cloud: a directory holding
//
//   _defaultZone/<recordName>.json        one record each, in the web wire format
//   subscriptions/<subscriptionID>.json   one query subscription each, in its wire form
//
// Every file is replaced in one step (temporary file + rename), 0600 in directories 0700. The
// static functions work on the files directly for whoever plays the other side (zorvik-phone);
// the object answers the product's requests on the main actor, never inline.
class LocalCloudDatabase final : public CloudDatabase {
public:
    static constexpr auto defaultZoneName = "_defaultZone";

    LocalCloudDatabase(MainActor& mainActor, QString databaseDirectory);

    void fetchRecord(const QString& recordName,
                     std::function<void(std::variant<CloudRecord, CloudError>)> answer) override;
    void saveSubscription(const QuerySubscription& subscription,
                          std::function<void(std::optional<CloudError>)> done) override;

    const QString& directory() const { return directory_; }

    static QString zoneDirectory(const QString& databaseDirectory);
    static QString subscriptionsDirectory(const QString& databaseDirectory);
    static QString recordPath(const QString& databaseDirectory, const QString& recordName);

    // What tells one version of a file from the next: its inode, size and change times.
    struct FileVersion {
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = -1;
        qint64 modifiedNanoseconds = 0;
        qint64 changedNanoseconds = 0;

        bool isKnown() const { return size >= 0; }
        bool operator==(const FileVersion&) const = default;
    };

    // The record `recordName`. Throws CloudError: unknownItem when there is no such file,
    // invalidArguments for a name that is no valid record name, internalError (with the file's
    // path and the problem) when it cannot be read or is not a record of that name. `version`
    // receives the version of the file that was read, also when its content is rejected.
    static CloudRecord readRecord(const QString& databaseDirectory, const QString& recordName,
                                  FileVersion* version = nullptr);
    // The same, with nothing when there is no such file: a poll that finds no record, the
    // usual answer, throws nothing.
    static std::optional<CloudRecord> findRecord(const QString& databaseDirectory,
                                                 const QString& recordName,
                                                 FileVersion* version = nullptr);
    // Creates or replaces the record's file. Throws CloudError.
    static void writeRecord(const QString& databaseDirectory, const CloudRecord& record);
    // False when there was no such record. Throws CloudError.
    static bool deleteRecord(const QString& databaseDirectory, const QString& recordName);

    // Every readable query subscription, ordered by ID, and for each file that is not one, its
    // problem.
    struct Subscriptions {
        QList<QuerySubscription> subscriptions;
        QList<CloudError> problems;
    };
    static Subscriptions readSubscriptions(const QString& databaseDirectory);
    // Creates or replaces the subscription's file. Throws CloudError.
    static void writeSubscription(const QString& databaseDirectory,
                                  const QuerySubscription& subscription);

    // The whole content of a small file; nothing when it does not exist. Throws CloudError
    // (internalError) with the path and the system's message when it cannot be read.
    static std::optional<QByteArray> readSmallFile(const QString& path,
                                                   FileVersion* version = nullptr);

private:
    MainActor& mainActor_;
    QString directory_;
};
