// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <memory>

#include "platform/CloudContainer.h"
#include "platform/linux/cloud/LocalCloudDatabase.h"
#include "platform/linux/cloud/LocalCloudRemoteNotifications.h"

class MainActor;

// The embedded default cloud: one directory plays the container, so everything runs on one
// machine with no account. zorvik-phone writes it; the application reads and watches it.
//
//   <root>/account.json                               optional {"status": N}; absent = available
//   <root>/private/_defaultZone/<recordName>.json     the private database's records
//   <root>/private/subscriptions/<subscriptionID>.json
//
// The standard root is $XDG_DATA_HOME/net.brontal.zorvik/cloud/iCloud.net.brontal.zorvik/.
class LocalCloud final : public CloudContainer {
public:
    static constexpr auto containerIdentifier = "iCloud.net.brontal.zorvik";

    LocalCloud(MainActor& mainActor, QString rootDirectory);
    ~LocalCloud() override;

    static QString standardRootDirectory();
    static QString accountFilePath(const QString& rootDirectory);
    static QString privateDatabaseDirectory(const QString& rootDirectory);

    // The status account.json gives, 1 (available) when there is none. Throws CloudError
    // (internalError) naming the file and the problem when it cannot be read or is not an object
    // with a whole number "status".
    static int readAccountStatus(const QString& rootDirectory);
    // Throws a CloudError naming the folder when its records cannot be read.
    static void requireReadableRecords(const QString& rootDirectory);
    // Replaces account.json in one step. Throws CloudError.
    static void writeAccountStatus(const QString& rootDirectory, int status);

    // Answers on the main actor, never inline.
    void accountStatus(std::function<void(std::variant<int, CloudError>)> answer) override;
    CloudDatabase& privateCloudDatabase() override { return database_; }
    // The channel through which the container's pushes arrive.
    LocalCloudRemoteNotifications& remoteNotifications() { return *remoteNotifications_; }

    const QString& rootDirectory() const { return rootDirectory_; }

private:
    MainActor& mainActor_;
    QString rootDirectory_;
    LocalCloudDatabase database_;
    std::unique_ptr<LocalCloudRemoteNotifications> remoteNotifications_;
};
