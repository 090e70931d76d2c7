// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <memory>
#include <optional>

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "platform/linux/keyring/SecretServiceKeychain.h"
#include "platform/linux/keyring/SecretServiceUnlock.h"
#include "tests/support/SessionEnvironment.h"
#include "tests/support/SessionProcess.h"

// libsecret keeps one service, and its session, for the whole process: dropping it makes the next
// call connect again, to the service SECRET_SERVICE_BUS_NAME names.
extern "C" void secret_service_disconnect(void);

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

// tests/support/secret-service-double.py for one test: a Secret Service failing as KWallet's does.
class SecretServiceDouble {
public:
    ~SecretServiceDouble() { stop(); }

    // Starts it under `name` on the session bus, or on the bus at `busAddress`; with the sync key
    // `key` if given. Answers once it owns its names, or fails the test.
    void start(const QString& name, const QStringList& options,
               const std::optional<QByteArray>& key = std::nullopt,
               const QString& busAddress = {}) {
        stop();
        QStringList arguments{QFileInfo(QStringLiteral(__FILE__))
                                  .dir()
                                  .filePath("../support/secret-service-double.py"),
                              name};
        arguments += options;
        if (key) {
            const Keychain::Query query = CloudSyncCrypto::syncKeyQuery();
            arguments += QStringList{"--item", query.service, query.account, key->toHex()};
        }
        if (!busAddress.isEmpty()) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
            process_.setProcessEnvironment(environment);
        }
        // Debian's python3, which has GLib's bindings whatever python3 comes first on the PATH.
        process_.start(QFile::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3",
                       arguments);
        ASSERT_TRUE(runEventsUntil(
            [&] {
                output_ += process_.readAllStandardOutput();
                return output_.startsWith("ready\n") || process_.state() == QProcess::NotRunning;
            },
            10000));
        ASSERT_TRUE(output_.startsWith("ready\n")) << process_.readAllStandardError().toStdString();
    }

    // Stops it; answers what it said since it started, a line for each session asked for
    // ("refused", "opened" or "opened garbled") and each prompt run or dismissed.
    QStringList stop() {
        if (process_.state() == QProcess::NotRunning) {
            return {};
        }
        process_.terminate();
        process_.waitForFinished(5000);
        output_ += process_.readAllStandardOutput();
        QStringList said;
        for (const QString& line : QString::fromUtf8(output_).split('\n', Qt::SkipEmptyParts)) {
            if (line.startsWith("opened ")) {
                said += line.endsWith(" garbled") ? "opened garbled" : "opened";
            } else if (line != "ready") {
                said += line;
            }
        }
        output_.clear();
        return said;
    }

private:
    QProcess process_;
    QByteArray output_;
};

// The double beside the session's gnome-keyring, reached by the keychain under test instead.
class KeychainOnFailingSessions : public testing::Test {
protected:
    static constexpr auto kName = "net.brontal.zorvik.test.FailingSessions";

    void SetUp() override { REQUIRE_DESKTOP_SESSION(); }
    void TearDown() override {
        double_.stop();
        qunsetenv("SECRET_SERVICE_BUS_NAME");
        secret_service_disconnect();
    }

    void start(const QStringList& options, const std::optional<QByteArray>& key = std::nullopt) {
        double_.start(kName, options, key);
        qputenv("SECRET_SERVICE_BUS_NAME", kName);
        secret_service_disconnect();
    }
    QStringList stop() { return double_.stop(); }

    SecretServiceDouble double_;
    SecretServiceKeychain keychain;
};

// One refused session in a few hundred must not lose a read, a write or a removal: each is asked
// once more, on a new session, whether it blocks or answers later.
TEST_F(KeychainOnFailingSessions, EveryCallGetsPastARefusedSessionOnANewOne) {
    const Keychain::Query query = CloudSyncCrypto::syncKeyQuery();
    const QByteArray key(32, 'k');
    start({"--refuse", "1"}, key);
    const Keychain::Result read = keychain.copyMatching(query);
    EXPECT_EQ(read.status, Keychain::success);
    EXPECT_EQ(read.data, key);
    EXPECT_EQ(stop(), QStringList({"refused", "opened"}));

    start({"--refuse", "1"}, key);
    std::optional<Keychain::Result> later;
    keychain.copyMatchingLater(query, [&](Keychain::Result result) { later = result; });
    ASSERT_TRUE(runEventsUntil([&] { return later.has_value(); }));
    EXPECT_EQ(later->status, Keychain::success);
    EXPECT_EQ(later->data, key);

    const QByteArray replaced(32, 'r');
    start({"--refuse", "1"}, key);
    std::optional<std::int32_t> stored;
    keychain.storeLater(query, replaced, [&](std::int32_t status) { stored = status; });
    ASSERT_TRUE(runEventsUntil([&] { return stored.has_value(); }));
    EXPECT_EQ(stored, Keychain::success);
    EXPECT_EQ(keychain.copyMatching(query).data, replaced);

    start({"--refuse", "1"}, key);
    EXPECT_EQ(keychain.store(query, replaced), Keychain::success);
    EXPECT_EQ(keychain.copyMatching(query).data, replaced);

    start({"--refuse", "1"});
    EXPECT_EQ(keychain.add(query, key), Keychain::success);
    EXPECT_EQ(keychain.copyMatching(query).data, key);

    start({"--refuse", "1"}, key);
    std::optional<std::int32_t> removed;
    keychain.removeLater(query, [&](std::int32_t status) { removed = status; });
    ASSERT_TRUE(runEventsUntil([&] { return removed.has_value(); }));
    EXPECT_EQ(removed, Keychain::success);
    EXPECT_EQ(keychain.copyMatching(query).status, Keychain::itemNotFound);

    start({"--refuse", "1"}, key);
    EXPECT_EQ(keychain.remove(query), Keychain::success);
    EXPECT_EQ(keychain.copyMatching(query).status, Keychain::itemNotFound);
}

// A session whose secrets do not decode stays that way, and libsecret would keep using it: the
// item's secret is read again on a session opened anew.
TEST_F(KeychainOnFailingSessions, ASecretThatDoesNotDecodeIsReadAgainOnANewSession) {
    const Keychain::Query query = CloudSyncCrypto::syncKeyQuery();
    const QByteArray key(32, 'g');
    start({"--garble", "1"}, key);
    const Keychain::Result read = keychain.copyMatching(query);
    EXPECT_EQ(read.status, Keychain::success);
    EXPECT_EQ(read.data, key);
    EXPECT_EQ(stop(), QStringList({"opened garbled", "opened"}));

    start({"--garble", "1"}, key);
    std::optional<Keychain::Result> later;
    keychain.copyMatchingLater(query, [&](Keychain::Result result) { later = result; });
    EXPECT_FALSE(later) << "answered inside the call";
    ASSERT_TRUE(runEventsUntil([&] { return later.has_value(); }));
    EXPECT_EQ(later->status, Keychain::success);
    EXPECT_EQ(later->data, key);
    // The new session is kept: the next read opens none.
    EXPECT_EQ(keychain.copyMatching(query).data, key);
    EXPECT_EQ(stop(), QStringList({"opened garbled", "opened"}));
}

// Once only: a service that refuses every session is reported, not asked forever.
TEST_F(KeychainOnFailingSessions, ASecondRefusalIsTheAnswer) {
    start({"--refuse", "3"}, QByteArray(32, 'k'));
    EXPECT_EQ(keychain.copyMatching(CloudSyncCrypto::syncKeyQuery()).status,
              Keychain::otherFailure);
    EXPECT_EQ(stop(), QStringList({"refused", "refused"}));
}

// A bus of the test's own, on which the double plays KWallet: both its Secret Service and its
// wallet daemon.
class KWalletUnlockWithoutPrompt : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_DESKTOP_SESSION();
        ASSERT_TRUE(directory_.isValid());
        daemon_.start("dbus-daemon", {"--config-file=" + writePrivateBusConfig(directory_.path()),
                                      "--nofork", "--print-address"});
        ASSERT_TRUE(runEventsUntil([&] { return daemon_.canReadLine(); }, 10000));
        address_ = QString::fromUtf8(daemon_.readLine().trimmed());
    }
    void TearDown() override {
        double_.stop();
        QDBusConnection::disconnectFromBus("kwallet-double");
        daemon_.kill();
        daemon_.waitForFinished(1000);
    }

    // Asks for the unlock of the sync key without a prompt; answers what came back, if anything.
    std::optional<std::int32_t> unlock(const QStringList& kwallet) {
        double_.start("org.freedesktop.secrets", QStringList{"--kwallet"} + kwallet,
                      QByteArray(32, 'k'), address_);
        // Shared, so an answer after the wait gave up lands nowhere harmful.
        const auto answer = std::make_shared<std::optional<std::int32_t>>();
        SecretServiceUnlock::start(
            QDBusConnection::connectToBus(address_, "kwallet-double"),
            CloudSyncCrypto::syncKeyQuery(), [answer](std::int32_t status) { *answer = status; },
            SecretServiceUnlock::Prompting::never);
        runEventsUntil([&] { return answer->has_value(); });
        return *answer;
    }

    QTemporaryDir directory_;
    QProcess daemon_;
    QString address_;
    SecretServiceDouble double_;
};

// KWallet reports a wallet opened at login locked, and answers its unlock with a prompt that
// shows nothing while the wallet is open: that prompt is run.
TEST_F(KWalletUnlockWithoutPrompt, RunsThePromptOfAWalletThatIsOpen) {
    EXPECT_EQ(unlock({"open"}), Keychain::success);
    EXPECT_EQ(double_.stop(), QStringList({"prompted"}));
}

// The same prompt for a closed wallet is KWallet's password dialog: dismissed, never run.
TEST_F(KWalletUnlockWithoutPrompt, DismissesThePromptOfAClosedWallet) {
    EXPECT_EQ(unlock({"closed"}), Keychain::interactionNotAllowed);
    EXPECT_EQ(double_.stop(), QStringList({"dismissed"}));
}

// A wallet open in a KWallet that is not the Secret Service says nothing about its prompts.
TEST_F(KWalletUnlockWithoutPrompt, DismissesThePromptOfAnotherServiceBesideAnOpenWallet) {
    EXPECT_EQ(unlock({"beside"}), Keychain::interactionNotAllowed);
    EXPECT_EQ(double_.stop(), QStringList({"dismissed"}));
}

}  // namespace
