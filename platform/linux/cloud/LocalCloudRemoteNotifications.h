// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QSocketNotifier>
#include <QString>
#include <memory>

#include "platform/RemoteNotifications.h"
#include "platform/linux/cloud/LocalCloudDatabase.h"

class MainActor;

// Silent pushes of the embedded cloud. Registering installs an inotify watch on the private
// database's default zone; from then on every record file that is created or replaced there
// pushes, for each saved query subscription of the record's type that fires on that event, the
// dictionary a real push carries:
//
//   {"aps":{"content-available":1},
//    "ck":{"ce":2,"cid":"<container>","nid":"<uuid>",
//          "qry":{"dbs":1,"fo":<1 created|2 updated|3 deleted>,"rid":"<recordName>",
//                 "sid":"<subscriptionID>","zid":"_defaultZone","zoid":"_defaultOwner"}}}
//
// The watch reports each file by name, so one write is one push, with no delay and no directory
// scan. A record counts as written when
//   - a file is renamed into place (an atomic write through a temporary file),
//   - a file appears complete (QSaveFile links a new file in whole from an unnamed temporary),
//   - a file is closed after writing (a plain write), unless it is the version pushed already.
// Temporary files never push: their names are no record names. A record file that cannot be
// read still pushes to every subscription that fires on the event, so the fetch that follows
// reports the problem instead of nothing happening.
class LocalCloudRemoteNotifications final : public RemoteNotifications {
public:
    LocalCloudRemoteNotifications(MainActor& mainActor, QString databaseDirectory,
                                  QString containerIdentifier);
    ~LocalCloudRemoteNotifications() override;

    void setHandlers(Handlers handlers) override;
    void registerForRemoteNotifications() override;
    bool isRegisteredForRemoteNotifications() const override;
    // Removes the watch: no more pushes until registered again.
    void unregister() { removeWatch(); }

private:
    struct Shared;

    // Empty when the watch is in place, else the system's reason.
    QString installWatch();
    void removeWatch();
    void readEvents();
    enum class Write { renamedInPlace, appeared, closedAfterWriting };
    void recordWritten(const QString& recordName, Write write);
    void recordRemoved(const QString& recordName);
    // Takes in the records there now and forgets those gone. `pushing`: every record present
    // counts as written and every one gone as removed (after lost events); else they are only
    // noted (at registration).
    void rescan(bool pushing);
    void push(const QString& recordName, const QString& recordType, int reason);
    void deliver(std::function<void(const Handlers&)> call);

    MainActor& mainActor_;
    QString databaseDirectory_;
    QString containerIdentifier_;
    std::shared_ptr<Shared> shared_;
    int inotifyFd_ = -1;
    int watch_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    struct KnownRecord {
        QString recordType;  // empty when it could not be read
        LocalCloudDatabase::FileVersion version;
    };
    // The records present, each as it was when last read.
    QHash<QString, KnownRecord> knownRecords_;
};
