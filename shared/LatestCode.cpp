// SPDX-License-Identifier: GPL-3.0-or-later
#include "shared/LatestCode.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTextBoundaryFinder>
#include <array>

#include "shared/Iso8601.h"
#include "shared/ServiceDomains.h"

namespace {

constexpr std::array kKeyNames = {u"accountName", u"serviceID",  u"code",     u"fromDevice",
                                  u"issuedAt",    u"receivedAt", u"expiresAt"};

QString keyName(LatestCode::CodingKeys key) {
    return LatestCode::stringValue(key);
}

std::optional<QString> stringAt(const QJsonObject& object, LatestCode::CodingKeys key) {
    const QJsonValue value = object.value(keyName(key));
    if (!value.isString()) {
        return std::nullopt;
    }
    return value.toString();
}

std::optional<Instant> instantAt(const QJsonObject& object, LatestCode::CodingKeys key) {
    const auto text = stringAt(object, key);
    return text ? Iso8601::parse(*text) : std::nullopt;
}

}  // namespace

QString LatestCode::stringValue(CodingKeys key) {
    return QString::fromUtf16(kKeyNames[static_cast<std::size_t>(key)]);
}

std::optional<LatestCode::CodingKeys> LatestCode::codingKey(QStringView text) {
    for (std::size_t i = 0; i < kKeyNames.size(); ++i) {
        if (text == QStringView(kKeyNames[i])) {
            return static_cast<CodingKeys>(i);
        }
    }
    return std::nullopt;
}

bool LatestCode::isValid(Instant at) const {
    return at < expiresAt && !code.isEmpty();
}

QString LatestCode::displayCode() const {
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, code);
    QList<qsizetype> boundaries;  // where each user-perceived character ends
    while (graphemes.toNextBoundary() > 0) {
        boundaries.append(graphemes.position());
    }
    const qsizetype count = boundaries.size();
    if (count < 6 || count > 8) {
        return code;
    }
    const qsizetype split = boundaries[(count == 6 ? 3 : 4) - 1];
    return code.left(split) + u' ' + code.mid(split);
}

QStringList LatestCode::domains() const {
    return serviceDomainsFor(serviceID);
}

std::optional<QByteArray> LatestCode::encode() const {
    const auto issued = Iso8601::format(issuedAt);
    const auto received = Iso8601::format(receivedAt);
    const auto expires = Iso8601::format(expiresAt);
    if (!issued || !received || !expires) {
        return std::nullopt;
    }
    QJsonObject object{
        {keyName(CodingKeys::accountName), accountName}, {keyName(CodingKeys::code), code},
        {keyName(CodingKeys::fromDevice), fromDevice},   {keyName(CodingKeys::issuedAt), *issued},
        {keyName(CodingKeys::receivedAt), *received},    {keyName(CodingKeys::expiresAt), *expires},
    };
    if (serviceID) {
        object.insert(keyName(CodingKeys::serviceID), *serviceID);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<LatestCode> LatestCode::decode(QByteArrayView json) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json.toByteArray(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();

    std::optional<QString> serviceID;
    const QJsonValue service = object.value(keyName(CodingKeys::serviceID));
    if (service.isString()) {
        serviceID = service.toString();
    } else if (!service.isUndefined() && !service.isNull()) {
        return std::nullopt;
    }

    const auto accountName = stringAt(object, CodingKeys::accountName);
    const auto code = stringAt(object, CodingKeys::code);
    const auto fromDevice = stringAt(object, CodingKeys::fromDevice);
    const auto issuedAt = instantAt(object, CodingKeys::issuedAt);
    const auto receivedAt = instantAt(object, CodingKeys::receivedAt);
    const auto expiresAt = instantAt(object, CodingKeys::expiresAt);
    if (!accountName || !code || !fromDevice || !issuedAt || !receivedAt || !expiresAt) {
        return std::nullopt;
    }
    return LatestCode{*accountName, serviceID,   *code,     *fromDevice,
                      *issuedAt,    *receivedAt, *expiresAt};
}
