// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/CodeIntake/PendingCode.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "ZorvikMac/CodeIntake/JsonDecodingError.h"
#include "ZorvikMac/CodeIntake/PendingCodeError.h"
#include "ZorvikMac/CodeIntake/SymmetricKey.h"
#include "platform/AesGcm.h"
#include "shared/Iso8601.h"

namespace {

using Kind = JsonDecodingError::Kind;

QJsonValue requiredValue(const QJsonObject& object, const QString& key) {
    const auto found = object.constFind(key);
    if (found == object.constEnd()) {
        throw JsonDecodingError(Kind::keyNotFound, key);
    }
    if (found->isNull()) {
        throw JsonDecodingError(Kind::valueNotFound, key);
    }
    return *found;
}

QString requiredString(const QJsonObject& object, const QString& key) {
    const QJsonValue value = requiredValue(object, key);
    if (!value.isString()) {
        throw JsonDecodingError(Kind::typeMismatch, key);
    }
    return value.toString();
}

Instant requiredDate(const QJsonObject& object, const QString& key) {
    const auto instant = Iso8601::parse(requiredString(object, key));
    if (!instant) {
        throw JsonDecodingError(Kind::dataCorrupted, key);
    }
    return *instant;
}

// The canonical 8-4-4-4-12 form, in either case; QUuid alone would also take braces.
QUuid requiredUuid(const QJsonObject& object, const QString& key) {
    const QString text = requiredString(object, key);
    bool wellFormed = text.size() == 36;
    for (qsizetype i = 0; wellFormed && i < text.size(); ++i) {
        const QChar c = text[i];
        wellFormed =
            (i == 8 || i == 13 || i == 18 || i == 23)
                ? c == u'-'
                : (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
    }
    if (!wellFormed) {
        throw JsonDecodingError(Kind::dataCorrupted, key);
    }
    return QUuid::fromString(text);
}

std::optional<QString> optionalString(const QJsonObject& object, const QString& key) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) {
        return std::nullopt;
    }
    if (!value.isString()) {
        throw JsonDecodingError(Kind::typeMismatch, key);
    }
    return value.toString();
}

QString formattedDate(Instant instant, const char* key) {
    const auto text = Iso8601::format(instant);
    if (!text) {
        throw JsonDecodingError(Kind::dataCorrupted, QString::fromLatin1(key));
    }
    return *text;
}

}  // namespace

const QByteArray& PendingCode::magic() {
    static const QByteArray bytes = QByteArrayLiteral("ZRVK");
    return bytes;
}

PendingCode PendingCode::open(const QByteArray& blob, const SymmetricKey& key) {
    if (blob.size() <= magic().size() + 1 || !blob.startsWith(magic())) {
        throw PendingCodeError::notAPendingCode();
    }
    const auto version = static_cast<std::uint8_t>(blob[magic().size()]);
    if (version != formatVersion) {
        throw PendingCodeError::unsupportedVersion(version);
    }
    const QByteArray plaintext =
        AesGcm::open(key.bytes(), QByteArrayView(blob).sliced(magic().size() + 1));
    return decode(plaintext);
}

QByteArray PendingCode::seal(const SymmetricKey& key) const {
    QByteArray box;
    try {
        box = AesGcm::seal(key.bytes(), encode());
    } catch (const Error&) {
        throw PendingCodeError::sealFailed();
    }
    return magic() + char(formatVersion) + box;
}

PendingCode PendingCode::decode(const QByteArray& json) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        throw JsonDecodingError(Kind::dataCorrupted, QString());
    }
    if (!document.isObject()) {
        throw JsonDecodingError(Kind::typeMismatch, QString());
    }
    const QJsonObject object = document.object();
    PendingCode decoded;
    decoded.accountID = requiredUuid(object, QStringLiteral("accountID"));
    decoded.accountName = requiredString(object, QStringLiteral("accountName"));
    decoded.serviceID = optionalString(object, QStringLiteral("serviceID"));
    decoded.code = requiredString(object, QStringLiteral("code"));
    decoded.issuedAt = requiredDate(object, QStringLiteral("issuedAt"));
    decoded.expiresAt = requiredDate(object, QStringLiteral("expiresAt"));
    decoded.fromDevice = requiredString(object, QStringLiteral("fromDevice"));
    return decoded;
}

QByteArray PendingCode::encode() const {
    QJsonObject object{
        {QStringLiteral("accountID"), accountID.toString(QUuid::WithoutBraces).toUpper()},
        {QStringLiteral("accountName"), accountName},
        {QStringLiteral("code"), code},
        {QStringLiteral("issuedAt"), formattedDate(issuedAt, "issuedAt")},
        {QStringLiteral("expiresAt"), formattedDate(expiresAt, "expiresAt")},
        {QStringLiteral("fromDevice"), fromDevice},
    };
    if (serviceID) {
        object.insert(QStringLiteral("serviceID"), *serviceID);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
