// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "ZorvikMac/CodeIntake/SymmetricKey.h"
#include "platform/Task.h"

class Keychain;
class MainActor;

// The sync key, read from the keychain without blocking and then kept in memory, so a fetch
// costs no keychain round trip. The keychain's change reports (an item created, changed or
// deleted, a keyring locked, the service gone) drop it at once, so a deleted or replaced key
// stops opening codes exactly as a fresh read would. Dropped bytes are scrubbed. A keyring that
// answers locked is asked once to open without a prompt (a wallet opened at login still reports
// its collection locked), and again only after it reported a change, as it does on a restart.
class SyncKeyCache {
public:
    SyncKeyCache(Keychain& keychain, MainActor& mainActor);
    ~SyncKeyCache();
    SyncKeyCache(const SyncKeyCache&) = delete;
    SyncKeyCache& operator=(const SyncKeyCache&) = delete;

    // The key: from memory, else read from the keychain. Throws CloudSyncCrypto::Error as
    // loadSyncKey does; a failed read keeps nothing.
    Task<SymmetricKey> load();
    void drop();
    // Called after each change report of the keychain has dropped the key.
    void setChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }
    bool holdsKey() const { return key_.has_value(); }

private:
    Keychain& keychain_;
    MainActor& mainActor_;
    std::optional<SymmetricKey> key_;
    std::function<void()> listener_;
    // Counts the drops: a read that a change overtook is read again rather than kept.
    std::uint64_t generation_ = 0;
    // The generation in which the keyring was last asked to open without a prompt.
    std::optional<std::uint64_t> quietUnlockAskedIn_;
};
