// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>

#include "platform/CredentialIdentityStore.h"
#include "shared/LatestCode.h"

// The credential identities of a published code: one per web domain of its service, in the
// table's order, labelled "<account> · from <device>", all naming the one record the helper
// fills from. The application registers them when a code arrives and the AutoFill helper when a
// browser connects for the first time while a code is held, so both make them here.
namespace LatestCodeIdentities {

constexpr auto recordIdentifier = "latest-code";

inline QList<CredentialIdentityStore::Identity> make(const LatestCode& code) {
    const QString label = code.accountName + QStringLiteral(" \u00B7 from ") + code.fromDevice;
    QList<CredentialIdentityStore::Identity> identities;
    for (const QString& domain : code.domains()) {
        identities.append({domain, label, QString::fromLatin1(recordIdentifier)});
    }
    return identities;
}

}  // namespace LatestCodeIdentities
