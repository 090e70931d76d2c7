// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "platform/Keychain.h"

class SecretServiceChanges;

// The keychain on the freedesktop Secret Service (gnome-keyring, KWallet), through libsecret.
// Reads never prompt: locked items are reported as interaction not allowed. copyMatchingLater
// reads through libsecret's asynchronous calls on the main context, which Qt's event loop
// drives, and so do storeLater and removeLater; the synchronous calls are for tools without an
// event loop. Unlocking, which only the user asks for, is asynchronous and may prompt. The change
// observer hears the service's own signals. An item is found by the attributes `service` and
// `account`; its secret is the raw data. A call that fails in a way one bad session explains is
// made once more on a new session.
class SecretServiceKeychain final : public Keychain {
public:
    SecretServiceKeychain();
    ~SecretServiceKeychain() override;

    Result copyMatching(const Query& query) override;
    void copyMatchingLater(const Query& query, std::function<void(Result)> done) override;
    void setChangeObserver(const Query& watched, std::function<void()> changed) override;
    std::int32_t add(const Query& query, const QByteArray& data) override;
    std::int32_t store(const Query& query, const QByteArray& data) override;
    void storeLater(const Query& query, const QByteArray& data,
                    std::function<void(std::int32_t status)> done) override;
    std::int32_t remove(const Query& query) override;
    void removeLater(const Query& query, std::function<void(std::int32_t status)> done) override;
    void unlock(const Query& query, std::function<void(std::int32_t status)> done) override;
    void unlockWithoutPrompt(const Query& query,
                             std::function<void(std::int32_t status)> done) override;

private:
    std::unique_ptr<SecretServiceChanges> changes_;
};
