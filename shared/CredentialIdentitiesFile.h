// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

#include "platform/CredentialIdentityStore.h"

// credential-identities.json in the group container: the application writes the identities of
// the code it holds, the AutoFill helper reads them to know for which sites to offer it.
// {"identities": [{"serviceIdentifier": {"identifier": "example.com", "type": "domain"},
//                  "label": "Example", "recordIdentifier": "…"}]}
namespace CredentialIdentitiesFile {

constexpr auto fileName = "credential-identities.json";

using Identity = CredentialIdentityStore::Identity;

QByteArray encode(const QList<Identity>& identities);

// The identities, or nothing with the reason in `error`: anything but a complete file of the
// form above is rejected as a whole.
std::optional<QList<Identity>> decode(QByteArrayView json, QString* error = nullptr);

// The identities for a page on `host`: those whose domain covers it (domainCoversHost).
QList<Identity> matchingHost(const QList<Identity>& identities, const QString& host);

}  // namespace CredentialIdentitiesFile
