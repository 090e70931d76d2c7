// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/cloud/CloudRecordCoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>

namespace CloudRecordCoding {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

[[noreturn]] void reject(const QString& problem) {
    throw CloudError(CloudError::internalError, problem);
}

[[noreturn]] void refuseToWrite(const QString& problem) {
    throw CloudError(CloudError::invalidArguments, problem);
}

QJsonObject parseObject(const QByteArray& bytes, const QString& what) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        reject(QStringLiteral("The %1 is not JSON: %2 at byte %3")
                   .arg(what, error.errorString())
                   .arg(error.offset));
    }
    if (!document.isObject()) {
        reject(QStringLiteral("The %1 is not a JSON object").arg(what));
    }
    return document.object();
}

QString requireString(const QJsonObject& object, const QString& key, const QString& what) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined()) {
        reject(QStringLiteral("The %1 has no \"%2\"").arg(what, key));
    }
    if (!value.isString()) {
        reject(QStringLiteral("The %1's \"%2\" is not a string").arg(what, key));
    }
    return value.toString();
}

// A JSON number without a fraction, with all 64 bits of an integer the text spelled out.
std::optional<qint64> wholeNumber(const QJsonValue& value) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    constexpr qint64 notWhole = std::numeric_limits<qint64>::min();
    const qint64 number = value.toInteger(notWhole);
    if (number != notWhole || value.toDouble() == double(notWhole)) {
        return number;
    }
    return std::nullopt;
}

CloudRecord::Value decodeValue(const QString& fieldName, const QJsonValue& field) {
    const QString what = QStringLiteral("field \"%1\"").arg(fieldName);
    if (!field.isObject()) {
        reject(
            QStringLiteral("The record's %1 is not an object with a type and a value").arg(what));
    }
    const QJsonObject object = field.toObject();
    const QString type = requireString(object, QStringLiteral("type"), what);
    const QJsonValue value = object.value(QStringLiteral("value"));
    if (value.isUndefined()) {
        reject(QStringLiteral("The record's %1 has no value").arg(what));
    }
    const auto wrongValue = [&](const char* expected) {
        reject(QStringLiteral("The record's %1 of type %2 does not hold %3")
                   .arg(what, type, QString::fromLatin1(expected)));
    };

    if (type == u"BYTES") {
        if (!value.isString()) {
            wrongValue("a base64 string");
        }
        const auto decoded = QByteArray::fromBase64Encoding(
            value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        // toLatin1 turns what is not Latin-1 into '?', which base64 rejects.
        if (!decoded) {
            wrongValue("a base64 string");
        }
        return decoded.decoded;
    }
    if (type == u"TIMESTAMP") {
        qint64 milliseconds = 0;
        if (const auto whole = wholeNumber(value)) {
            milliseconds = *whole;
        } else if (value.isDouble() && std::isfinite(value.toDouble()) &&
                   std::fabs(value.toDouble()) <= double(maximumTimestampMilliseconds)) {
            milliseconds = std::llround(value.toDouble());
        } else {
            wrongValue("milliseconds since 1970");
        }
        if (milliseconds > maximumTimestampMilliseconds ||
            milliseconds < -maximumTimestampMilliseconds) {
            wrongValue("milliseconds within 8.64e15 of 1970");
        }
        return Instant(std::chrono::milliseconds(milliseconds));
    }
    if (type == u"STRING") {
        if (!value.isString()) {
            wrongValue("a string");
        }
        return value.toString();
    }
    if (type == u"INT64") {
        const auto whole = wholeNumber(value);
        if (!whole) {
            wrongValue("a whole number");
        }
        return *whole;
    }
    if (type == u"DOUBLE") {
        if (!value.isDouble()) {
            wrongValue("a number");
        }
        return value.toDouble();
    }
    reject(QStringLiteral("The record's %1 has the unknown type \"%2\"").arg(what, type));
}

QJsonValue encodeValue(const QString& fieldName, const CloudRecord::Value& value) {
    struct Encoder {
        const QString& fieldName;
        QJsonObject operator()(const QByteArray& bytes) const {
            return {{QStringLiteral("type"), QStringLiteral("BYTES")},
                    {QStringLiteral("value"), QString::fromLatin1(bytes.toBase64())}};
        }
        QJsonObject operator()(Instant instant) const {
            const qint64 milliseconds =
                std::chrono::round<std::chrono::milliseconds>(instant.time_since_epoch()).count();
            if (milliseconds > maximumTimestampMilliseconds ||
                milliseconds < -maximumTimestampMilliseconds) {
                refuseToWrite(QStringLiteral("The field \"%1\" holds an instant too far from 1970")
                                  .arg(fieldName));
            }
            return {{QStringLiteral("type"), QStringLiteral("TIMESTAMP")},
                    {QStringLiteral("value"), milliseconds}};
        }
        QJsonObject operator()(const QString& text) const {
            return {{QStringLiteral("type"), QStringLiteral("STRING")},
                    {QStringLiteral("value"), text}};
        }
        QJsonObject operator()(qint64 number) const {
            return {{QStringLiteral("type"), QStringLiteral("INT64")},
                    {QStringLiteral("value"), number}};
        }
        QJsonObject operator()(double number) const {
            if (!std::isfinite(number)) {
                refuseToWrite(QStringLiteral("The field \"%1\" holds a number JSON cannot carry")
                                  .arg(fieldName));
            }
            return {{QStringLiteral("type"), QStringLiteral("DOUBLE")},
                    {QStringLiteral("value"), number}};
        }
    };
    return std::visit(Encoder{fieldName}, value);
}

QString subscriptionWhat(const QJsonObject& object) {
    const QJsonValue id = object.value(QStringLiteral("subscriptionID"));
    return id.isString() ? QStringLiteral("subscription \"%1\"").arg(id.toString())
                         : QStringLiteral("subscription");
}

}  // namespace

bool isValidRecordName(const QString& name) {
    if (name.isEmpty() || name.startsWith(u'.') || name.contains(u'/') || name.contains(QChar())) {
        return false;
    }
    const QByteArray utf8 = name.toUtf8();
    // Lone surrogates would not survive the trip to a file name and back.
    return utf8.size() <= 200 && QString::fromUtf8(utf8) == name;
}

QJsonObject encodeRecord(const CloudRecord& record) {
    if (!isValidRecordName(record.recordName)) {
        refuseToWrite(QStringLiteral("\"%1\" is not a valid record name").arg(record.recordName));
    }
    if (record.recordType.isEmpty()) {
        refuseToWrite(QStringLiteral("The record \"%1\" has no type").arg(record.recordName));
    }
    QJsonObject fields;
    for (auto field = record.fields.cbegin(); field != record.fields.cend(); ++field) {
        if (field.key().isEmpty()) {
            refuseToWrite(QStringLiteral("The record \"%1\" has a field without a name")
                              .arg(record.recordName));
        }
        fields.insert(field.key(), encodeValue(field.key(), field.value()));
    }
    return {{QStringLiteral("recordName"), record.recordName},
            {QStringLiteral("recordType"), record.recordType},
            {QStringLiteral("fields"), fields}};
}

QByteArray encodeRecordFile(const CloudRecord& record) {
    return QJsonDocument(encodeRecord(record)).toJson(QJsonDocument::Compact) + '\n';
}

CloudRecord decodeRecord(const QJsonObject& object) {
    const QString what = QStringLiteral("record");
    CloudRecord record;
    record.recordName = requireString(object, QStringLiteral("recordName"), what);
    if (!isValidRecordName(record.recordName)) {
        reject(QStringLiteral("The record's name \"%1\" is not a valid record name")
                   .arg(record.recordName));
    }
    record.recordType = requireString(object, QStringLiteral("recordType"), what);
    if (record.recordType.isEmpty()) {
        reject(QStringLiteral("The record \"%1\" has an empty type").arg(record.recordName));
    }
    const QJsonValue fields = object.value(QStringLiteral("fields"));
    if (fields.isUndefined()) {
        return record;
    }
    if (!fields.isObject()) {
        reject(QStringLiteral("The record's \"fields\" is not an object"));
    }
    const QJsonObject fieldObject = fields.toObject();
    for (auto field = fieldObject.constBegin(); field != fieldObject.constEnd(); ++field) {
        if (field.key().isEmpty()) {
            reject(QStringLiteral("The record has a field without a name"));
        }
        record.fields.insert(field.key(), decodeValue(field.key(), field.value()));
    }
    return record;
}

CloudRecord decodeRecordFile(const QByteArray& bytes) {
    return decodeRecord(parseObject(bytes, QStringLiteral("record")));
}

QJsonObject encodeSubscription(const QuerySubscription& subscription) {
    if (!isValidSubscriptionID(subscription.subscriptionID)) {
        refuseToWrite(QStringLiteral("\"%1\" is not a valid subscription ID")
                          .arg(subscription.subscriptionID));
    }
    if (subscription.recordType.isEmpty()) {
        refuseToWrite(QStringLiteral("The subscription \"%1\" names no record type")
                          .arg(subscription.subscriptionID));
    }
    QJsonArray firesOn;
    if (subscription.firesOn & QuerySubscription::onRecordCreation) {
        firesOn.append(QStringLiteral("create"));
    }
    if (subscription.firesOn & QuerySubscription::onRecordUpdate) {
        firesOn.append(QStringLiteral("update"));
    }
    if (subscription.firesOn & QuerySubscription::onRecordDeletion) {
        firesOn.append(QStringLiteral("delete"));
    }
    return {
        {QStringLiteral("subscriptionID"), subscription.subscriptionID},
        {QStringLiteral("subscriptionType"), QStringLiteral("query")},
        {QStringLiteral("query"),
         QJsonObject{{QStringLiteral("recordType"), subscription.recordType}}},
        {QStringLiteral("firesOn"), firesOn},
        {QStringLiteral("zoneID"),
         QJsonObject{{QStringLiteral("zoneName"), QStringLiteral("_defaultZone")}}},
        {QStringLiteral("notificationInfo"),
         QJsonObject{{QStringLiteral("shouldSendContentAvailable"),
                      subscription.shouldSendContentAvailable}}},
    };
}

QByteArray encodeSubscriptionFile(const QuerySubscription& subscription) {
    return QJsonDocument(encodeSubscription(subscription)).toJson(QJsonDocument::Compact) + '\n';
}

QuerySubscription decodeSubscription(const QJsonObject& object) {
    const QString what = subscriptionWhat(object);
    QuerySubscription subscription;
    subscription.subscriptionID = requireString(object, QStringLiteral("subscriptionID"), what);
    if (!isValidSubscriptionID(subscription.subscriptionID)) {
        reject(QStringLiteral("\"%1\" is not a valid subscription ID")
                   .arg(subscription.subscriptionID));
    }
    const QString type = requireString(object, QStringLiteral("subscriptionType"), what);
    if (type != u"query") {
        reject(
            QStringLiteral("The %1 is of type \"%2\", not a query subscription").arg(what, type));
    }
    const QJsonValue query = object.value(QStringLiteral("query"));
    if (!query.isObject()) {
        reject(QStringLiteral("The %1 has no \"query\" object").arg(what));
    }
    subscription.recordType = requireString(query.toObject(), QStringLiteral("recordType"),
                                            what + QStringLiteral(" query"));
    if (subscription.recordType.isEmpty()) {
        reject(QStringLiteral("The %1 names no record type").arg(what));
    }

    const QJsonValue firesOn = object.value(QStringLiteral("firesOn"));
    if (!firesOn.isArray()) {
        reject(QStringLiteral("The %1 has no \"firesOn\" list").arg(what));
    }
    subscription.firesOn = 0;
    for (const QJsonValue event : firesOn.toArray()) {
        const QString name = event.toString();
        if (name == u"create") {
            subscription.firesOn |= QuerySubscription::onRecordCreation;
        } else if (name == u"update") {
            subscription.firesOn |= QuerySubscription::onRecordUpdate;
        } else if (name == u"delete") {
            subscription.firesOn |= QuerySubscription::onRecordDeletion;
        } else {
            reject(QStringLiteral("The %1 fires on something unknown (not create, update or "
                                  "delete)")
                       .arg(what));
        }
    }

    subscription.shouldSendContentAvailable = false;
    const QJsonValue info = object.value(QStringLiteral("notificationInfo"));
    if (!info.isUndefined()) {
        if (!info.isObject()) {
            reject(QStringLiteral("The %1's \"notificationInfo\" is not an object").arg(what));
        }
        const QJsonValue contentAvailable =
            info.toObject().value(QStringLiteral("shouldSendContentAvailable"));
        if (!contentAvailable.isUndefined() && !contentAvailable.isBool()) {
            reject(QStringLiteral("The %1's \"shouldSendContentAvailable\" is not true or false")
                       .arg(what));
        }
        subscription.shouldSendContentAvailable = contentAvailable.toBool(false);
    }
    return subscription;
}

QuerySubscription decodeSubscriptionFile(const QByteArray& bytes) {
    return decodeSubscription(parseObject(bytes, QStringLiteral("subscription")));
}

}  // namespace CloudRecordCoding
