// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ZorvikMac/CodeDelivery/CredentialIdentities.h"
#include "shared/Iso8601.h"
#include "tests/support/FakeCredentialIdentityStore.h"
#include "tests/support/ManualMainActor.h"

namespace {

LatestCode codeFor(std::optional<QString> service, QString account = "Work",
                   QString device = "iPhone") {
    return LatestCode{std::move(account),
                      std::move(service),
                      "123456",
                      std::move(device),
                      *Iso8601::parse(u"2026-03-01T12:00:00Z"),
                      *Iso8601::parse(u"2026-03-01T12:00:02Z"),
                      *Iso8601::parse(u"2026-03-01T12:01:30Z")};
}

class CredentialIdentitiesTest : public testing::Test {
protected:
    // Runs an operation to its end and hands back what it threw.
    std::optional<QString> run(Task<void> operation) {
        const TaskHandle handle = actor.spawn(std::move(operation));
        actor.runUntilIdle();
        EXPECT_TRUE(handle.isFinished());
        if (!handle.failure()) {
            return std::nullopt;
        }
        try {
            std::rethrow_exception(handle.failure());
        } catch (const CredentialIdentityStoreError& error) {
            return error.localizedDescription();
        }
    }

    ManualMainActor actor;
    FakeCredentialIdentityStore store{actor};
    CredentialIdentities identities{store, actor};
};

TEST(MakeIdentities, OneIdentityPerDomainWithTheSharedLabelAndRecord) {
    const auto made = CredentialIdentities::makeIdentities(codeFor("microsoft", "A", "D"));
    ASSERT_EQ(made.size(), 7);
    for (const auto& identity : made) {
        EXPECT_EQ(identity.label, QString::fromUtf8("A \u00B7 from D"));
        EXPECT_EQ(identity.recordIdentifier, "latest-code");
    }
    EXPECT_EQ(made.first().serviceIdentifier, "login.microsoftonline.com");
    EXPECT_EQ(CredentialIdentities::makeIdentities(codeFor("github", "A", "")).first().label,
              QString::fromUtf8("A \u00B7 from "));
}

// The code's domains replace whatever set was there; a code of no known service leaves none.
TEST_F(CredentialIdentitiesTest, RegisterReplacesTheWholeSetWithTheCodesDomains) {
    run(identities.registerCode(codeFor("microsoft")));
    ASSERT_EQ(store.identities.size(), 7);
    EXPECT_FALSE(run(identities.registerCode(codeFor("x"))));
    EXPECT_EQ(store.identities.size(), 2);
    EXPECT_FALSE(run(identities.registerCode(codeFor(std::nullopt))));
    EXPECT_TRUE(store.identities.isEmpty());
}

TEST_F(CredentialIdentitiesTest, DisabledProviderNeitherRegistersNorFails) {
    store.enabled = false;
    store.failWith = "the store is broken";
    EXPECT_FALSE(run(identities.registerCode(codeFor("github"))));
    EXPECT_FALSE(run(identities.removeAll()));
    EXPECT_EQ(store.replaceCalls + store.removeCalls, 0);
}

TEST_F(CredentialIdentitiesTest, StoreErrorsReachTheCaller) {
    store.failWith = "disk full";
    EXPECT_EQ(run(identities.registerCode(codeFor("github"))), "disk full");
    EXPECT_EQ(run(identities.removeAll()), "disk full");
    store.failWith.reset();
    run(identities.registerCode(codeFor("github")));
    EXPECT_FALSE(run(identities.removeAll()));
    EXPECT_TRUE(store.identities.isEmpty());
}

}  // namespace
