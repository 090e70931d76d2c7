// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

// Which cloud the codes come through, for the checklist and the diagnostics.
struct CloudBackendInfo {
    enum class Kind {
        // A cloud with nothing to choose, like the system's own account.
        unknown,
        // The directory on this computer that zorvik-phone writes.
        embedded,
        // The user's real cloud through its web service.
        web,
    };

    Kind kind = Kind::unknown;
    // The user can sign in to the web service from here (the build can reach it).
    bool canSignIn = false;
    // A few words for the diagnostics, like "iCloud on the web (production)".
    QString description;
    // A sentence about the account for the checklist: why it is restricted, or why the last
    // sign-in did not finish.
    std::optional<QString> note;
    // The account of the web service in use, as the user confirmed it ("user@example.com").
    std::optional<QString> account;
    // A sign-in came back from the browser with this account, which is used only once the user
    // confirms it: anyone on this computer can send the browser's way back a session.
    std::optional<QString> accountToConfirm;
    // How far this computer's clock is ahead of the cloud service's (negative: behind), in whole
    // minutes, 0 within a minute; nothing where the cloud tells no time.
    std::optional<double> clockAhead;

    bool operator==(const CloudBackendInfo&) const = default;
};
