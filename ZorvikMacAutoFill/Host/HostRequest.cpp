// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMacAutoFill/Host/HostRequest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {

struct Invalid {
    QString message;
};

QString requiredString(const QJsonObject& object, const QString& key, const QString& where) {
    const QJsonValue value = object.value(key);
    if (!value.isString()) {
        throw Invalid{QStringLiteral("%1 needs the text \"%2\"").arg(where, key)};
    }
    return value.toString();
}

CredentialServiceIdentifier serviceIdentifier(const QJsonValue& value, const QString& where) {
    if (!value.isObject()) {
        throw Invalid{QStringLiteral("%1 must be an object").arg(where)};
    }
    const QJsonObject object = value.toObject();
    CredentialServiceIdentifier identifier{
        requiredString(object, QStringLiteral("identifier"), where), QStringLiteral("domain")};
    if (object.contains(QStringLiteral("type"))) {
        identifier.type = requiredString(object, QStringLiteral("type"), where);
    }
    return identifier;
}

CredentialRequest credentialRequest(const QJsonObject& message) {
    const QJsonValue value = message.value(QStringLiteral("request"));
    if (!value.isObject()) {
        throw Invalid{QStringLiteral("the request needs a \"request\" object")};
    }
    const QJsonObject object = value.toObject();
    const QJsonValue type = object.value(QStringLiteral("type"));
    const double number = type.toDouble(-1);
    if (!type.isDouble() || number < 0 || number > 1000 || std::floor(number) != number) {
        throw Invalid{QStringLiteral("\"request\" needs a whole-number \"type\"")};
    }
    CredentialRequest request;
    request.type = int(number);
    const QJsonValue identity = object.value(QStringLiteral("credentialIdentity"));
    if (!identity.isObject()) {
        throw Invalid{QStringLiteral("\"request\" needs a \"credentialIdentity\" object")};
    }
    const QJsonObject identityObject = identity.toObject();
    request.credentialIdentity.serviceIdentifier =
        serviceIdentifier(identityObject.value(QStringLiteral("serviceIdentifier")),
                          QStringLiteral("\"serviceIdentifier\""));
    if (identityObject.contains(QStringLiteral("recordIdentifier"))) {
        request.credentialIdentity.recordIdentifier =
            requiredString(identityObject, QStringLiteral("recordIdentifier"),
                           QStringLiteral("\"credentialIdentity\""));
    }
    return request;
}

HostRequest::Type requestType(const QJsonValue& value) {
    static const QList<std::pair<QString, HostRequest::Type>> types = {
        {QStringLiteral("provideWithoutUserInteraction"),
         HostRequest::Type::provideWithoutUserInteraction},
        {QStringLiteral("prepareInterfaceToProvide"), HostRequest::Type::prepareInterfaceToProvide},
        {QStringLiteral("prepareList"), HostRequest::Type::prepareList},
        {QStringLiteral("prepareConfiguration"), HostRequest::Type::prepareConfiguration},
        {QStringLiteral("identities"), HostRequest::Type::identities},
    };
    if (!value.isString()) {
        throw Invalid{QStringLiteral("the request needs the text \"type\"")};
    }
    for (const auto& [name, type] : types) {
        if (name == value.toString()) {
            return type;
        }
    }
    // Quoted through JSON, so whatever the text holds stays one readable line.
    const QByteArray quoted = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    throw Invalid{QStringLiteral("unknown request type ") +
                  QString::fromUtf8(quoted.mid(1, quoted.size() - 2)).left(200)};
}

}  // namespace

std::variant<HostRequest, HostRequestError> parseHostRequest(const QByteArray& json) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return HostRequestError{QJsonValue::Null, QStringLiteral("the message is not JSON: ") +
                                                      parseError.errorString()};
    }
    if (!document.isObject()) {
        return HostRequestError{QJsonValue::Null,
                                QStringLiteral("the message is not a JSON object")};
    }
    const QJsonObject message = document.object();
    const QJsonValue id = message.value(QStringLiteral("id"));
    if (id.isUndefined() || id.isNull()) {
        return HostRequestError{QJsonValue::Null, QStringLiteral("the request has no \"id\"")};
    }
    try {
        HostRequest request;
        request.id = id;
        request.type = requestType(message.value(QStringLiteral("type")));
        switch (request.type) {
            case HostRequest::Type::provideWithoutUserInteraction:
            case HostRequest::Type::prepareInterfaceToProvide:
                request.request = credentialRequest(message);
                // The page asking, as the browser named it to the extension: a code goes only to
                // a page its identities cover.
                request.request.pageHost = requiredString(message, QStringLiteral("site"),
                                                          QStringLiteral("a provide request"));
                break;
            case HostRequest::Type::prepareList: {
                const QJsonValue list = message.value(QStringLiteral("serviceIdentifiers"));
                if (!list.isArray()) {
                    throw Invalid{
                        QStringLiteral("prepareList needs a \"serviceIdentifiers\" list")};
                }
                for (const QJsonValue& entry : list.toArray()) {
                    request.serviceIdentifiers.append(
                        serviceIdentifier(entry, QStringLiteral("each service identifier")));
                }
                break;
            }
            case HostRequest::Type::prepareConfiguration:
                break;
            case HostRequest::Type::identities:
                request.host =
                    requiredString(message, QStringLiteral("host"), QStringLiteral("identities"));
                break;
        }
        return request;
    } catch (const Invalid& invalid) {
        return HostRequestError{id, invalid.message};
    }
}
