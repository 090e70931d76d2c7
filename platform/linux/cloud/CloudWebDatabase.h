// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include "platform/CloudContainer.h"

class CloudWebSession;

// The user's private database through the cloud's web service: records/lookup in the default
// zone, and subscriptions/modify. A subscription is saved once per signed-in user and then
// remembered in a small file, as the service asks, instead of at every check.
class CloudWebDatabase final : public CloudDatabase {
public:
    // `stateFile` remembers the saved subscriptions, like
    // $XDG_DATA_HOME/net.brontal.zorvik/cloudkit-subscriptions.json.
    CloudWebDatabase(CloudWebSession& session, QString stateFile);

    void fetchRecord(const QString& recordName,
                     std::function<void(std::variant<CloudRecord, CloudError>)> answer) override;
    void saveSubscription(const QuerySubscription& subscription,
                          std::function<void(std::optional<CloudError>)> done) override;

    // Who is signed in, as the account check last learned; saved subscriptions are theirs.
    void setUserRecordName(const QString& userRecordName) { userRecordName_ = userRecordName; }
    // Forgets every saved subscription (signing out).
    void forgetSavedSubscriptions();

    static QString standardStateFile();

private:
    bool remembers(const QByteArray& fingerprint) const;
    void remember(const QByteArray& fingerprint);

    CloudWebSession& session_;
    QString stateFile_;
    QString userRecordName_;
};
