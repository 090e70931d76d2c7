// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A site the browser names: its domain or URL, as the browser gives it.
struct CredentialServiceIdentifier {
    QString identifier;
    // "domain" or "URL"; nothing here depends on it.
    QString type;
    bool operator==(const CredentialServiceIdentifier&) const = default;
};

// The identity the user picked from the browser's suggestions.
struct CredentialIdentityReference {
    CredentialServiceIdentifier serviceIdentifier;
    QString recordIdentifier;
    bool operator==(const CredentialIdentityReference&) const = default;
};

// What the browser asks the provider for.
struct CredentialRequest {
    // The browser's request types; only one-time codes are ever answered.
    static constexpr int passwordType = 1;
    static constexpr int passkeyAssertionType = 2;
    static constexpr int oneTimeCodeType = 3;

    int type = oneTimeCodeType;
    CredentialIdentityReference credentialIdentity;
    // The host of the page that asks, as the browser told the extension (never as the page
    // said). The code is given only to a page its identities cover.
    QString pageHost;
    bool operator==(const CredentialRequest&) const = default;
};
