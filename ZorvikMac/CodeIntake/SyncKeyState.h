// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Whether the shared sync key has reached this desktop's keychain. `locked`: the keyring that
// holds it is locked, so it cannot be read until the user unlocks it.
struct SyncKeyState {
    enum class Kind { checking, received, waiting, locked, error };

    Kind kind = Kind::checking;
    // A short human-readable text; only an error carries one.
    QString message;

    static SyncKeyState error(QString message) { return {Kind::error, std::move(message)}; }
    bool operator==(const SyncKeyState&) const = default;
};
