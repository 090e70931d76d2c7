// SPDX-License-Identifier: GPL-3.0-or-later
#include <QVariantHash>
#include <cmath>
#include <limits>

#include "platform/RemoteNotifications.h"

// A push from the cloud carries its own part under "ck": exactly one of "qry" (a query
// subscription fired), "fet" (a zone subscription) or "met" (a database subscription). The
// dictionary comes from outside, so every value is checked for its type before it is used.

namespace {

// A dictionary value, whichever of Qt's two dictionary types it arrived as.
std::optional<QVariantMap> mapValue(const QVariant& value) {
    if (value.typeId() == QMetaType::QVariantMap) {
        return value.toMap();
    }
    if (value.typeId() == QMetaType::QVariantHash) {
        const QVariantHash hash = value.toHash();
        QVariantMap map;
        for (auto entry = hash.cbegin(); entry != hash.cend(); ++entry) {
            map.insert(entry.key(), entry.value());
        }
        return map;
    }
    return std::nullopt;
}

// A whole number that fits an int, from any of the number types a decoder hands out.
std::optional<int> intValue(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::Int:
            return value.toInt();
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::LongLong:
        case QMetaType::Short:
        case QMetaType::Char:
        case QMetaType::SChar: {
            const qlonglong number = value.toLongLong();
            if (number < std::numeric_limits<int>::min() ||
                number > std::numeric_limits<int>::max()) {
                return std::nullopt;
            }
            return int(number);
        }
        case QMetaType::ULong:
        case QMetaType::ULongLong:
        case QMetaType::UShort:
        case QMetaType::UChar: {
            const qulonglong number = value.toULongLong();
            if (number > qulonglong(std::numeric_limits<int>::max())) {
                return std::nullopt;
            }
            return int(number);
        }
        case QMetaType::Double:
        case QMetaType::Float: {
            const double number = value.toDouble();
            if (!std::isfinite(number) || std::trunc(number) != number ||
                number < std::numeric_limits<int>::min() ||
                number > std::numeric_limits<int>::max()) {
                return std::nullopt;
            }
            return int(number);
        }
        default:
            return std::nullopt;
    }
}

// Reads the optional `key` of `map` as a string: nothing when absent, false when mistyped.
bool readString(const QVariantMap& map, const QString& key, std::optional<QString>& into) {
    const auto found = map.constFind(key);
    if (found == map.cend()) {
        return true;
    }
    if (found->typeId() != QMetaType::QString) {
        return false;
    }
    into = found->toString();
    return true;
}

bool readInt(const QVariantMap& map, const QString& key, std::optional<int>& into) {
    const auto found = map.constFind(key);
    if (found == map.cend()) {
        return true;
    }
    into = intValue(*found);
    return into.has_value();
}

}  // namespace

std::optional<CloudNotification> CloudNotification::fromRemoteNotification(
    const QVariantMap& userInfo) {
    const auto ckValue = userInfo.constFind(QStringLiteral("ck"));
    if (ckValue == userInfo.cend()) {
        return std::nullopt;
    }
    const auto ck = mapValue(*ckValue);
    if (!ck) {
        return std::nullopt;
    }

    CloudNotification notification;
    for (const QString& kind :
         {QStringLiteral("qry"), QStringLiteral("fet"), QStringLiteral("met")}) {
        const auto partValue = ck->constFind(kind);
        if (partValue == ck->cend()) {
            continue;
        }
        const auto part = mapValue(*partValue);
        if (!part || !readString(*part, QStringLiteral("sid"), notification.subscriptionID)) {
            return std::nullopt;
        }
        if (kind == u"qry" &&
            (!readString(*part, QStringLiteral("rid"), notification.recordName) ||
             !readInt(*part, QStringLiteral("fo"), notification.queryNotificationReason))) {
            return std::nullopt;
        }
        // Only one of the three belongs in a push; the first one found speaks for it.
        break;
    }
    return notification;
}
