// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <optional>
#include <variant>

#include "platform/CloudError.h"
#include "platform/CloudRecord.h"

struct CloudWebReply;

// Reads the web service's answers to the calls the desktop makes. Each function takes what the
// session delivered and never throws: a malformed answer becomes a cloud error that says what
// is wrong with it.
namespace CloudWebAnswers {

// records/lookup of one record: the record, unknownItem (11) when the service has none, or the
// error of the call or of the item.
std::variant<CloudRecord, CloudError> lookedUpRecord(const CloudWebReply& reply,
                                                     const QString& recordName);

// users/caller as an account status, with the service's reason when it restricts the account.
struct AccountAnswer {
    int status = 0;
    std::optional<QString> reason;
    // The user's record name, when the service said who is signed in.
    std::optional<QString> userRecordName;
    // How the user knows the account: its email address, else the name on it, else the record
    // name, on one line of at most 254 characters; set whenever the record name is, unless
    // nothing of it would show.
    std::optional<QString> accountName;
    bool operator==(const AccountAnswer&) const = default;
};
AccountAnswer accountStatus(const CloudWebReply& reply);

// subscriptions/modify creating one subscription: nothing when it is saved, also when it
// existed already.
std::optional<CloudError> savedSubscription(const CloudWebReply& reply,
                                            const QString& subscriptionID);

// tokens/create: the push token and the courier address to long-poll.
struct CourierToken {
    QString apnsToken;
    QUrl webcourierURL;
    // Seconds the token lives, from the address's "ttl"; absent when it does not say.
    std::optional<double> ttl;
    bool operator==(const CourierToken&) const = default;
};
std::variant<CourierToken, CloudError> courierToken(const CloudWebReply& reply);

}  // namespace CloudWebAnswers
