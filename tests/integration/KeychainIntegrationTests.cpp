// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "platform/linux/keyring/SecretServiceKeychain.h"
#include "tests/support/SessionEnvironment.h"
#include "tests/support/SessionProcess.h"

namespace {

using CloudSyncCrypto::Error;

// Runs against the session's gnome-keyring; each test starts without a sync key.
class KeychainIntegration : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_DESKTOP_SESSION();
        keychain.remove(CloudSyncCrypto::syncKeyQuery());
    }
    void TearDown() override {
        if (insideDesktopSession()) {
            keychain.remove(CloudSyncCrypto::syncKeyQuery());
        }
    }

    SecretServiceKeychain keychain;
};

// Wrong sizes are no key yet too, as the unit tests show on the fake keychain.
TEST_F(KeychainIntegration, ThirtyTwoRawBytesAreTheKeyWhoeverStoredThemAndAMissingItemIsNoKeyYet) {
    const ProcessRun store = runProcess("secret-tool",
                                        {"store", "--label=from another tool", "service",
                                         "net.brontal.zorvik.sync", "account", "sync-key"},
                                        5000, QByteArray(32, 'z'));
    ASSERT_EQ(store.exitCode, 0) << store.errors.toStdString();
    EXPECT_EQ(CloudSyncCrypto::loadSyncKey(keychain).bytes(), QByteArray(32, 'z'));
    EXPECT_EQ(keychain.remove(CloudSyncCrypto::syncKeyQuery()), Keychain::success);

    QByteArray key(32, '\0');
    for (int i = 0; i < key.size(); ++i) {
        key[i] = static_cast<char>(255 - i * 7);  // bytes that are not valid UTF-8 text
    }
    ASSERT_EQ(keychain.add(CloudSyncCrypto::syncKeyQuery(), key), Keychain::success);
    EXPECT_EQ(CloudSyncCrypto::loadSyncKey(keychain).bytes(), key);
    EXPECT_EQ(keychain.add(CloudSyncCrypto::syncKeyQuery(), key), Keychain::duplicateItem);
    EXPECT_EQ(keychain.remove(CloudSyncCrypto::syncKeyQuery()), Keychain::success);
    EXPECT_EQ(keychain.remove(CloudSyncCrypto::syncKeyQuery()), Keychain::itemNotFound);
    try {
        CloudSyncCrypto::loadSyncKey(keychain);
        ADD_FAILURE() << "a removed key was found";
    } catch (const Error& error) {
        EXPECT_EQ(error, Error::noKeyYet());
    }
}

TEST_F(KeychainIntegration, NoSecretServiceOnTheBusIsNotAvailable) {
    // A bus of its own, listening in a directory of its own, that nobody serves secrets on.
    QTemporaryDir directory;
    const QString config = writePrivateBusConfig(directory.path());
    const ProcessRun probe =
        runProcess("dbus-run-session",
                   {"--config-file=" + config, "--", ZORVIK_PHONE_PATH, "key", "export"}, 20000);
    ASSERT_TRUE(probe.finished);
    EXPECT_EQ(probe.exitCode, 1);
    // The bus daemon writes its own lines there too.
    const QString errors = QString::fromUtf8(probe.errors);
    EXPECT_TRUE(errors.contains("zorvik-phone: the keyring service is not running\n"))
        << errors.toStdString();
}

}  // namespace
