#pragma once

#include "Keychain.h"

// The keychain on the freedesktop Secret Service (gnome-keyring, KWallet), through libsecret.
// Reads and writes are synchronous and never prompt: locked items are reported as interaction
// not allowed. Unlocking, which only the user asks for, is asynchronous and may prompt. An item is
// found by the attributes `service` and `account`; its secret is the raw data.
class SecretServiceKeychain final : public Keychain {
public:
    Result copyMatching(const Query& query) override;
    std::int32_t add(const Query& query, const QByteArray& data) override;
    std::int32_t store(const Query& query, const QByteArray& data) override;
    std::int32_t remove(const Query& query) override;
    void unlock(const Query& query, std::function<void(std::int32_t status)> done) override;
};
