// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/CloudWebAnswers.h"

#include <QJsonArray>
#include <QUrlQuery>

#include "platform/linux/cloud/CloudRecordCoding.h"
#include "platform/linux/cloud/CloudWebConfiguration.h"
#include "platform/linux/cloud/CloudWebErrors.h"
#include "platform/linux/cloud/CloudWebSession.h"

namespace CloudWebAnswers {

namespace {

CloudError malformed(const QString& call, const QString& problem) {
    return CloudError(CloudError::internalError,
                      QStringLiteral("iCloud's answer to %1 %2").arg(call, problem));
}

}  // namespace

std::variant<CloudRecord, CloudError> lookedUpRecord(const CloudWebReply& reply,
                                                     const QString& recordName) {
    if (reply.error) {
        return *reply.error;
    }
    const QJsonValue records = reply.body.value(QStringLiteral("records"));
    if (!records.isArray()) {
        return malformed(QStringLiteral("records/lookup"), QStringLiteral("has no records"));
    }
    for (const QJsonValue& item : records.toArray()) {
        if (!item.isObject()) {
            return malformed(QStringLiteral("records/lookup"),
                             QStringLiteral("holds an item that is not an object"));
        }
        const QJsonObject object = item.toObject();
        if (object.value(QStringLiteral("recordName")).toString() != recordName) {
            continue;
        }
        if (const auto error = CloudWebErrors::serverError(object)) {
            return CloudWebErrors::fromServer(*error);
        }
        try {
            return CloudRecordCoding::decodeRecord(object);
        } catch (const CloudError& error) {
            return error;
        }
    }
    return malformed(QStringLiteral("records/lookup"),
                     QStringLiteral("does not mention the record %1").arg(recordName));
}

namespace {

// How the user knows the account: the service gives the email only for a user who can be looked
// up, the name only for one who is discoverable, the record name always.
QString knownAs(const QJsonObject& identity, const QString& recordName) {
    const QString email = identity.value(QStringLiteral("lookupInfo"))
                              .toObject()
                              .value(QStringLiteral("emailAddress"))
                              .toString()
                              .simplified();
    if (!email.isEmpty()) {
        return email;
    }
    const QJsonObject names = identity.value(QStringLiteral("nameComponents")).toObject();
    const QString name = (names.value(QStringLiteral("givenName")).toString() + u' ' +
                          names.value(QStringLiteral("familyName")).toString())
                             .simplified();
    return name.isEmpty() ? recordName : name;
}

// That name as the user sees it to decide on, in a title and at a terminal: one line, no longer
// than an email address can be; nothing when nothing of it would show.
std::optional<QString> shownName(const QJsonObject& identity, const QString& recordName) {
    constexpr qsizetype kLongestName = 254;
    const QString shown = knownAs(identity, recordName).simplified().left(kLongestName);
    return shown.isEmpty() ? std::nullopt : std::optional<QString>(shown);
}

}  // namespace

AccountAnswer accountStatus(const CloudWebReply& reply) {
    enum { couldNotDetermine, available, restricted, noAccount, temporarilyUnavailable };
    if (reply.httpStatus == 0) {
        return {couldNotDetermine, {}, {}, {}};
    }
    if (reply.httpStatus == 421 || reply.httpStatus == 401) {
        return {noAccount, {}, {}, {}};
    }
    if (reply.httpStatus == 403) {
        std::optional<QString> reason;
        if (reply.serverError && !reply.serverError->reason.isEmpty()) {
            reason = reply.serverError->reason;
        }
        return {restricted, reason, {}, {}};
    }
    if (reply.httpStatus == 429 || reply.httpStatus >= 500) {
        return {temporarilyUnavailable, {}, {}, {}};
    }
    if (reply.error) {
        return {couldNotDetermine, {}, {}, {}};
    }
    // {"users":[{"userRecordName":…}]}, or the identity itself at the top.
    QJsonObject identity = reply.body;
    const QJsonValue users = reply.body.value(QStringLiteral("users"));
    if (users.isArray() && !users.toArray().isEmpty() && users.toArray().first().isObject()) {
        identity = users.toArray().first().toObject();
    }
    const QString name = identity.value(QStringLiteral("userRecordName")).toString();
    if (name.isEmpty()) {
        return {couldNotDetermine, {}, {}, {}};
    }
    return {available, {}, name, shownName(identity, name)};
}

std::optional<CloudError> savedSubscription(const CloudWebReply& reply,
                                            const QString& subscriptionID) {
    if (reply.error) {
        return reply.error;
    }
    const QJsonValue subscriptions = reply.body.value(QStringLiteral("subscriptions"));
    if (!subscriptions.isArray()) {
        return malformed(QStringLiteral("subscriptions/modify"),
                         QStringLiteral("has no subscriptions"));
    }
    for (const QJsonValue& item : subscriptions.toArray()) {
        const QJsonObject object = item.toObject();
        if (object.value(QStringLiteral("subscriptionID")).toString() != subscriptionID) {
            continue;
        }
        const auto error = CloudWebErrors::serverError(object);
        if (!error) {
            return std::nullopt;
        }
        // The service's word for an existing subscription is not documented: EXISTS, or a
        // reason that speaks of a duplicate.
        const QString reason = error->reason.toLower();
        if (error->serverErrorCode == u"EXISTS" || reason.contains(u"duplicate") ||
            reason.contains(u"already exists")) {
            return std::nullopt;
        }
        return CloudWebErrors::fromServer(*error);
    }
    return malformed(QStringLiteral("subscriptions/modify"),
                     QStringLiteral("does not mention the subscription %1").arg(subscriptionID));
}

std::variant<CourierToken, CloudError> courierToken(const CloudWebReply& reply) {
    if (reply.error) {
        return *reply.error;
    }
    const QString call = QStringLiteral("tokens/create");
    CourierToken token;
    token.apnsToken = reply.body.value(QStringLiteral("apnsToken")).toString();
    if (token.apnsToken.isEmpty()) {
        return malformed(call, QStringLiteral("has no apnsToken"));
    }
    token.webcourierURL =
        QUrl(reply.body.value(QStringLiteral("webcourierURL")).toString(), QUrl::StrictMode);
    if (!CloudWebConfiguration::isServiceURL(token.webcourierURL)) {
        return malformed(call, QStringLiteral("has no usable webcourierURL"));
    }
    bool isNumber = false;
    const double ttl =
        QUrlQuery(token.webcourierURL).queryItemValue(QStringLiteral("ttl")).toDouble(&isNumber);
    if (isNumber && ttl > 0 && ttl < 1e9) {
        token.ttl = ttl;
    }
    return token;
}

}  // namespace CloudWebAnswers
