// SPDX-License-Identifier: GPL-3.0-or-later
#include "shared/CredentialIdentitiesFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "shared/ServiceDomains.h"

namespace CredentialIdentitiesFile {

namespace {

const QString identitiesKey = QStringLiteral("identities");
const QString serviceIdentifierKey = QStringLiteral("serviceIdentifier");
const QString identifierKey = QStringLiteral("identifier");
const QString typeKey = QStringLiteral("type");
const QString labelKey = QStringLiteral("label");
const QString recordIdentifierKey = QStringLiteral("recordIdentifier");

std::optional<QList<Identity>> fail(QString* error, const QString& reason) {
    if (error) {
        *error = reason;
    }
    return std::nullopt;
}

}  // namespace

QByteArray encode(const QList<Identity>& identities) {
    QJsonArray list;
    for (const Identity& identity : identities) {
        list.append(QJsonObject{
            {serviceIdentifierKey, QJsonObject{{identifierKey, identity.serviceIdentifier},
                                               {typeKey, QStringLiteral("domain")}}},
            {labelKey, identity.label},
            {recordIdentifierKey, identity.recordIdentifier},
        });
    }
    return QJsonDocument(QJsonObject{{identitiesKey, list}}).toJson(QJsonDocument::Compact);
}

std::optional<QList<Identity>> decode(QByteArrayView json, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(json.data(), json.size()), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return fail(error, QStringLiteral("not JSON: ") + parseError.errorString());
    }
    const QJsonValue list = document.object().value(identitiesKey);
    if (!document.isObject() || !list.isArray()) {
        return fail(error, QStringLiteral("no \"identities\" list"));
    }
    QList<Identity> identities;
    for (const QJsonValue& entry : list.toArray()) {
        const QJsonObject object = entry.toObject();
        const QJsonValue service = object.value(serviceIdentifierKey);
        const QJsonValue identifier = service.toObject().value(identifierKey);
        const QJsonValue label = object.value(labelKey);
        const QJsonValue record = object.value(recordIdentifierKey);
        if (!entry.isObject() || !service.isObject() || !identifier.isString() ||
            identifier.toString().isEmpty() || !label.isString() || !record.isString()) {
            return fail(error, QStringLiteral("identity %1 is incomplete").arg(identities.size()));
        }
        identities.append({identifier.toString(), label.toString(), record.toString()});
    }
    return identities;
}

QList<Identity> matchingHost(const QList<Identity>& identities, const QString& host) {
    QList<Identity> matching;
    for (const Identity& identity : identities) {
        if (domainCoversHost(identity.serviceIdentifier, host)) {
            matching.append(identity);
        }
    }
    return matching;
}

}  // namespace CredentialIdentitiesFile
