// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <functional>
#include <optional>

// The store of one-time-code credential identities from which the browser offers our codes.
// Identities carry no secret; the helper fills the code from the shared file.
class CredentialIdentityStore {
public:
    struct Identity {
        // A web domain (the service identifier's type is always "domain").
        QString serviceIdentifier;
        QString label;
        QString recordIdentifier;
        bool operator==(const Identity&) const = default;
    };

    virtual ~CredentialIdentityStore() = default;
    // Whether the user has turned this provider on.
    virtual void getState(std::function<void(bool isEnabled)> answer) = 0;
    // Afterwards the store holds exactly `identities`, or the answer carries an error text.
    virtual void replaceCredentialIdentityEntries(
        const QList<Identity>& identities,
        std::function<void(std::optional<QString> error)> done) = 0;
    virtual void removeAllCredentialIdentities(
        std::function<void(std::optional<QString> error)> done) = 0;
};
