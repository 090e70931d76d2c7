// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>

#include "platform/CredentialIdentityStore.h"
#include "platform/Error.h"
#include "platform/Task.h"
#include "shared/LatestCode.h"
#include "shared/LatestCodeIdentities.h"

class MainActor;

// A failure the identity store reported.
class CredentialIdentityStoreError : public Error {
public:
    explicit CredentialIdentityStoreError(QString message) : message_(std::move(message)) {}
    QString localizedDescription() const override { return message_; }

private:
    QString message_;
};

// One one-time-code identity per web domain of the latest code's service, so that the browser
// offers the code on those sites. They carry no secret.
class CredentialIdentities {
public:
    static constexpr auto recordIdentifier = LatestCodeIdentities::recordIdentifier;

    CredentialIdentities(CredentialIdentityStore& store, MainActor& mainActor)
        : store_(store), mainActor_(mainActor) {}

    // See LatestCodeIdentities.
    static QList<CredentialIdentityStore::Identity> makeIdentities(const LatestCode& code);

    Task<bool> isAutoFillEnabled();
    // Replaces the store's identities with those of `code` (none for an unknown service).
    // Does nothing while the provider is disabled. Throws CredentialIdentityStoreError.
    Task<void> registerCode(LatestCode code);
    // Does nothing while the provider is disabled. Throws CredentialIdentityStoreError.
    Task<void> removeAll();

private:
    CredentialIdentityStore& store_;
    MainActor& mainActor_;
};
