// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The user's cloud account as the readiness checks last saw it.
struct CloudAccountState {
    enum class Kind { checking, signedIn, notSignedIn, restricted, temporarilyUnavailable, error };

    Kind kind = Kind::checking;
    // A short human-readable text; only an error carries one.
    QString message;

    static CloudAccountState error(QString message) { return {Kind::error, std::move(message)}; }
    bool operator==(const CloudAccountState&) const = default;
};
