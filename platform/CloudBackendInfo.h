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
    // How far this computer's clock is ahead of the cloud service's (negative: behind), in whole
    // minutes, 0 within a minute; nothing where the cloud tells no time.
    std::optional<double> clockAhead;

    bool operator==(const CloudBackendInfo&) const = default;
};
