// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <variant>

#include "ZorvikMacAutoFill/CredentialRequest.h"

// One request of the browser extension to the AutoFill helper.
struct HostRequest {
    enum class Type {
        provideWithoutUserInteraction,
        prepareInterfaceToProvide,
        prepareList,
        prepareConfiguration,
        identities,
    };

    // Echoed in the answer; any JSON value but null.
    QJsonValue id;
    Type type = Type::prepareConfiguration;
    // For the two provide requests.
    CredentialRequest request;
    // For prepareList.
    QList<CredentialServiceIdentifier> serviceIdentifiers;
    // For identities: the page's host name.
    QString host;
};

// A message that is not a request, with the id when it had one (else null).
struct HostRequestError {
    QJsonValue id;
    QString message;
};

std::variant<HostRequest, HostRequestError> parseHostRequest(const QByteArray& json);
