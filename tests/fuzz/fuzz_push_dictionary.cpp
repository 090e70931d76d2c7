// SPDX-License-Identifier: GPL-3.0-or-later
// Reads fuzzer input as the JSON of a push's user-info dictionary, the way a web push channel
// hands it over (JSON → QVariantMap), and parses it as a cloud notification. A push comes from
// outside, so any dictionary must give a notification or nothing, never a crash; what the parser
// reads must be what the dictionary says.

#include <QJsonDocument>
#include <QJsonObject>
#include <QVariantHash>
#include <cstdint>

#include "platform/RemoteNotifications.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

// The same dictionary with every map inside turned into a hash.
QVariant asHashes(const QVariant& value) {
    if (value.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        QVariantHash hash;
        for (auto entry = map.cbegin(); entry != map.cend(); ++entry) {
            hash.insert(entry.key(), asHashes(entry.value()));
        }
        return hash;
    }
    return value;
}

// The query push that says exactly what `notification` says.
QVariantMap canonicalPush(const CloudNotification& notification) {
    QVariantMap query;
    if (notification.subscriptionID) {
        query.insert(QStringLiteral("sid"), *notification.subscriptionID);
    }
    if (notification.recordName) {
        query.insert(QStringLiteral("rid"), *notification.recordName);
    }
    if (notification.queryNotificationReason) {
        query.insert(QStringLiteral("fo"), *notification.queryNotificationReason);
    }
    return {{QStringLiteral("ck"), QVariantMap{{QStringLiteral("qry"), query}}}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray json(reinterpret_cast<const char*>(data), qsizetype(size));
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject()) {
        return 0;
    }
    const QVariantMap userInfo = document.object().toVariantMap();
    const auto notification = CloudNotification::fromRemoteNotification(userInfo);

    const QVariant ck = userInfo.value(QStringLiteral("ck"));
    fuzzRequire(!notification || ck.typeId() == QMetaType::QVariantMap,
                "a notification from a dictionary without a \"ck\" dictionary");

    QVariantMap hashed;
    for (auto entry = userInfo.cbegin(); entry != userInfo.cend(); ++entry) {
        hashed.insert(entry.key(), asHashes(entry.value()));
    }
    fuzzRequire(CloudNotification::fromRemoteNotification(hashed) == notification,
                "hashes read differently from maps");

    if (!notification) {
        return 0;
    }
    const QVariantMap ckMap = ck.toMap();
    const QVariantMap query = ckMap.value(QStringLiteral("qry")).toMap();
    if (ckMap.contains(QStringLiteral("qry"))) {
        fuzzRequire(notification->recordName.has_value() == query.contains(QStringLiteral("rid")),
                    "a record name that is not in the push, or one left out");
        fuzzRequire(!notification->recordName ||
                        *notification->recordName == query.value(QStringLiteral("rid")).toString(),
                    "a record name other than the push's");
        fuzzRequire(!notification->queryNotificationReason ||
                        double(*notification->queryNotificationReason) ==
                            query.value(QStringLiteral("fo")).toDouble(),
                    "a reason other than the push's");
    } else {
        fuzzRequire(!notification->recordName && !notification->queryNotificationReason,
                    "record details from a push that is no query push");
    }
    fuzzRequire(
        CloudNotification::fromRemoteNotification(canonicalPush(*notification)) == notification,
        "the canonical push of a notification reads differently");
    return 0;
}
