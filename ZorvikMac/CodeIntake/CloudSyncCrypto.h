// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <cstdint>

#include "ZorvikMac/CodeIntake/SymmetricKey.h"
#include "platform/Error.h"
#include "platform/Keychain.h"

// The sync key the phone shares through the user's keychain.
namespace CloudSyncCrypto {

constexpr auto keychainService = "net.brontal.zorvik.sync";
constexpr auto keychainAccount = "sync-key";

class Error : public ::Error {
public:
    enum class Kind { keychain, noKeyYet };

    static Error keychain(std::int32_t status) { return Error(Kind::keychain, status); }
    static Error noKeyYet() { return Error(Kind::noKeyYet, 0); }

    Kind kind() const { return kind_; }
    // The keychain's status of a keychain error.
    std::int32_t status() const { return status_; }

    QString localizedDescription() const override {
        return kind_ == Kind::noKeyYet
                   ? QCoreApplication::translate(
                         "CloudSyncCrypto",
                         "the sync key is not in the keyring yet: pair with your phone")
                   : Keychain::describe(status_);
    }
    bool operator==(const Error& other) const {
        return kind_ == other.kind_ && status_ == other.status_;
    }

private:
    Error(Kind kind, std::int32_t status) : kind_(kind), status_(status) {}

    Kind kind_;
    std::int32_t status_;
};

// The query for the keychain item that holds the sync key: a synchronizable generic password
// in the data-protection keychain, its data returned, one match.
Keychain::Query syncKeyQuery();

// Reads the sync key. Throws Error: noKeyYet while the item is missing or does not hold exactly
// 32 bytes, keychain(status) for any other failing status.
SymmetricKey loadSyncKey(Keychain& keychain);
// The key in the keychain's answer to the sync-key query, or the Error loadSyncKey throws.
SymmetricKey keyFrom(const Keychain::Result& result);

}  // namespace CloudSyncCrypto
