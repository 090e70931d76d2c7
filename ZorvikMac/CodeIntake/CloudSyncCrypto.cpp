// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"

namespace CloudSyncCrypto {

Keychain::Query syncKeyQuery() {
    Keychain::Query query;
    query.service = QString::fromLatin1(keychainService);
    query.account = QString::fromLatin1(keychainAccount);
    query.synchronizable = true;
    query.returnData = true;
    query.matchLimitOne = true;
    query.useDataProtectionKeychain = true;
    return query;
}

SymmetricKey loadSyncKey(Keychain& keychain) {
    return keyFrom(keychain.copyMatching(syncKeyQuery()));
}

SymmetricKey keyFrom(const Keychain::Result& result) {
    if (result.status == Keychain::itemNotFound) {
        throw Error::noKeyYet();
    }
    if (result.status != Keychain::success) {
        throw Error::keychain(result.status);
    }
    // An item without data or of another length is no key yet rather than a failure: the
    // phone may still be writing it.
    const auto key = result.data ? SymmetricKey::fromBytes(*result.data) : std::nullopt;
    if (!key) {
        throw Error::noKeyYet();
    }
    return *key;
}

}  // namespace CloudSyncCrypto
