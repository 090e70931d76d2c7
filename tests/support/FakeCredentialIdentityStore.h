// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include "platform/CredentialIdentityStore.h"
#include "platform/MainActor.h"

// An identity store in memory that answers through the main queue, as the platform would.
class FakeCredentialIdentityStore final : public CredentialIdentityStore {
public:
    explicit FakeCredentialIdentityStore(MainActor& mainActor) : mainActor_(mainActor) {}

    void getState(std::function<void(bool isEnabled)> answer) override {
        ++stateQueries;
        mainActor_.post([this, answer = std::move(answer)] { answer(enabled); });
    }
    void replaceCredentialIdentityEntries(
        const QList<Identity>& list,
        std::function<void(std::optional<QString> error)> done) override {
        ++replaceCalls;
        if (!failWith) {
            identities = list;
        }
        mainActor_.post([this, done = std::move(done)] { done(failWith); });
    }
    void removeAllCredentialIdentities(
        std::function<void(std::optional<QString> error)> done) override {
        ++removeCalls;
        if (!failWith) {
            identities.clear();
        }
        mainActor_.post([this, done = std::move(done)] { done(failWith); });
    }

    bool enabled = true;
    std::optional<QString> failWith;
    QList<Identity> identities;
    int stateQueries = 0;
    int replaceCalls = 0;
    int removeCalls = 0;

private:
    MainActor& mainActor_;
};
