// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/CodeDelivery/CredentialIdentities.h"

#include "platform/Completion.h"

QList<CredentialIdentityStore::Identity> CredentialIdentities::makeIdentities(
    const LatestCode& code) {
    return LatestCodeIdentities::make(code);
}

Task<bool> CredentialIdentities::isAutoFillEnabled() {
    co_return co_await waitForCompletion<bool>(mainActor_, [this](CompletionHandler<bool> done) {
        store_.getState([done](bool enabled) { done.resume(enabled); });
    });
}

Task<void> CredentialIdentities::registerCode(LatestCode code) {
    if (!co_await isAutoFillEnabled()) {
        co_return;
    }
    const auto identities = makeIdentities(code);
    const auto error = co_await waitForCompletion<std::optional<QString>>(
        mainActor_, [this, &identities](CompletionHandler<std::optional<QString>> done) {
            store_.replaceCredentialIdentityEntries(
                identities,
                [done](std::optional<QString> failure) { done.resume(std::move(failure)); });
        });
    if (error) {
        throw CredentialIdentityStoreError(*error);
    }
}

Task<void> CredentialIdentities::removeAll() {
    if (!co_await isAutoFillEnabled()) {
        co_return;
    }
    const auto error = co_await waitForCompletion<std::optional<QString>>(
        mainActor_, [this](CompletionHandler<std::optional<QString>> done) {
            store_.removeAllCredentialIdentities(
                [done](std::optional<QString> failure) { done.resume(std::move(failure)); });
        });
    if (error) {
        throw CredentialIdentityStoreError(*error);
    }
}
