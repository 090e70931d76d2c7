// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include "platform/CloudError.h"
#include "platform/CloudRecord.h"

// The cloud's web wire format of records and query subscriptions, as JSON:
//
//   {"recordName":"pending-code","recordType":"PendingCode",
//    "fields":{"blob":{"type":"BYTES","value":"<base64>"},
//              "expiresAt":{"type":"TIMESTAMP","value":<milliseconds since 1970>}}}
//
// Field types: BYTES (standard base64), TIMESTAMP (whole milliseconds since 1970 UTC, a number;
// a fraction is rounded to the nearest millisecond), STRING, INT64 (a whole number) and DOUBLE.
// Keys the format has besides these (recordChangeTag, created, …) are ignored when read.
//
// Decoding throws CloudError (internalError) with a description that names what is wrong; it
// never yields a partly read record.
namespace CloudRecordCoding {

// A record name that is also a safe file name: not empty, at most 200 bytes of UTF-8, no "/",
// no NUL and no leading "." (which also excludes "." and "..", and leaves hidden names free for
// the temporary files of atomic writes).
bool isValidRecordName(const QString& name);

// Subscription IDs become file names the same way.
inline bool isValidSubscriptionID(const QString& id) {
    return isValidRecordName(id);
}

// Instants are written as whole milliseconds, so a record whose instants carry microseconds
// reads back rounded to the millisecond.
QJsonObject encodeRecord(const CloudRecord& record);
QByteArray encodeRecordFile(const CloudRecord& record);
CloudRecord decodeRecord(const QJsonObject& object);
CloudRecord decodeRecordFile(const QByteArray& bytes);

// {"subscriptionID":…,"subscriptionType":"query","query":{"recordType":…},
//  "firesOn":["create","update"],"zoneID":{"zoneName":"_defaultZone"},
//  "notificationInfo":{"shouldSendContentAvailable":true}}
QJsonObject encodeSubscription(const QuerySubscription& subscription);
QByteArray encodeSubscriptionFile(const QuerySubscription& subscription);
// Only query subscriptions; any other type is rejected with a CloudError.
QuerySubscription decodeSubscription(const QJsonObject& object);
QuerySubscription decodeSubscriptionFile(const QByteArray& bytes);

// The earliest and latest instants a TIMESTAMP may hold: ±8.64e15 ms around 1970, the range
// of a JavaScript date.
constexpr qint64 maximumTimestampMilliseconds = 8'640'000'000'000'000;

}  // namespace CloudRecordCoding
