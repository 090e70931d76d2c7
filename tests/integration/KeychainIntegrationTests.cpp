#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "CloudSyncCrypto.h"
#include "SecretServiceKeychain.h"
#include "SessionEnvironment.h"
#include "SessionProcess.h"

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
    Error loadError() {
        try {
            CloudSyncCrypto::loadSyncKey(keychain);
        } catch (const Error& error) {
            return error;
        }
        ADD_FAILURE() << "loadSyncKey did not throw";
        return Error::keychain(0);
    }

    SecretServiceKeychain keychain;
};

// The default collection locked, as after an automatic login that left the keyring closed.
void lockTheDefaultKeyring() {
    const auto call = [](const char* method, const QVariant& argument) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service",
            QString::fromLatin1(method));
        message << argument;
        return QDBusConnection::sessionBus().call(message);
    };
    const QDBusMessage alias = call("ReadAlias", QStringLiteral("default"));
    ASSERT_EQ(alias.type(), QDBusMessage::ReplyMessage) << alias.errorMessage().toStdString();
    const auto collection = qdbus_cast<QDBusObjectPath>(alias.arguments().value(0));
    const QDBusMessage locked =
        call("Lock", QVariant::fromValue(QList<QDBusObjectPath>{collection}));
    ASSERT_EQ(locked.type(), QDBusMessage::ReplyMessage) << locked.errorMessage().toStdString();
}

int runQuietly(const QStringList& command) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(command.first(), command.mid(1));
    return process.waitForFinished(10000) ? process.exitCode() : -1;
}

// Asks for the unlock and answers the keyring's own prompt window, as the user would, with the
// xdotool commands given; returns the keychain's answer, or nothing when none came.
std::optional<std::int32_t> unlockAnsweringThePrompt(Keychain& keychain,
                                                     const QList<QStringList>& keystrokes) {
    std::optional<std::int32_t> answer;
    keychain.unlock(CloudSyncCrypto::syncKeyQuery(), [&](std::int32_t status) { answer = status; });
    const QDeadlineTimer deadline(20000);
    bool answered = false;
    while (!answer && !deadline.hasExpired()) {
        QEventLoop().processEvents(QEventLoop::AllEvents, 50);
        if (!answered && runQuietly({"xdotool", "search", "--onlyvisible", "--name",
                                     "Unlock Login Keyring"}) == 0) {
            QThread::msleep(300);  // the dialog takes the keyboard once it is drawn
            for (const QStringList& keystroke : keystrokes) {
                EXPECT_EQ(runQuietly(QStringList{"xdotool"} + keystroke), 0);
            }
            answered = true;
        }
    }
    EXPECT_TRUE(answered) << "the keyring's prompt never showed";
    return answer;
}

QString sessionKeyringPassword() {
    QFile file(qEnvironmentVariable("ZORVIK_SESSION_DIR") + "/keyring-password");
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Reading never prompts; unlocking, which the user asks for, shows gnome-keyring's prompt
// (gcr-prompter on the session's display), and the key is readable once it is answered.
TEST_F(KeychainIntegration, ALockedKeyringIsReportedAndOpensOnlyThroughItsPrompt) {
    const QByteArray key(32, 'k');
    ASSERT_EQ(keychain.add(CloudSyncCrypto::syncKeyQuery(), key), Keychain::success);
    lockTheDefaultKeyring();
    EXPECT_EQ(keychain.copyMatching(CloudSyncCrypto::syncKeyQuery()).status,
              Keychain::interactionNotAllowed);
    EXPECT_EQ(loadError(), Error::keychain(Keychain::interactionNotAllowed));

    EXPECT_EQ(unlockAnsweringThePrompt(keychain, {{"key", "Escape"}}), Keychain::userCanceled);
    EXPECT_EQ(keychain.copyMatching(CloudSyncCrypto::syncKeyQuery()).status,
              Keychain::interactionNotAllowed);

    EXPECT_EQ(
        unlockAnsweringThePrompt(
            keychain, {{"type", "--delay", "10", sessionKeyringPassword()}, {"key", "Return"}}),
        Keychain::success);
    EXPECT_EQ(CloudSyncCrypto::loadSyncKey(keychain).bytes(), key);
    // Nothing is locked any more: the next unlock answers without a prompt.
    std::optional<std::int32_t> again;
    keychain.unlock(CloudSyncCrypto::syncKeyQuery(), [&](std::int32_t status) { again = status; });
    const QDeadlineTimer deadline(5000);
    while (!again && !deadline.hasExpired()) {
        QEventLoop().processEvents(QEventLoop::AllEvents, 50);
    }
    EXPECT_EQ(again, Keychain::success);
}

// Wrong sizes are no key yet too, as the unit tests show on the fake keychain.
TEST_F(KeychainIntegration, ThirtyTwoRawBytesAreTheKeyAndAMissingItemIsNoKeyYet) {
    QByteArray key(32, '\0');
    for (int i = 0; i < key.size(); ++i) {
        key[i] = static_cast<char>(255 - i * 7);  // bytes that are not valid UTF-8 text
    }
    ASSERT_EQ(keychain.add(CloudSyncCrypto::syncKeyQuery(), key), Keychain::success);
    EXPECT_EQ(CloudSyncCrypto::loadSyncKey(keychain).bytes(), key);
    EXPECT_EQ(keychain.add(CloudSyncCrypto::syncKeyQuery(), key), Keychain::duplicateItem);
    EXPECT_EQ(keychain.remove(CloudSyncCrypto::syncKeyQuery()), Keychain::success);
    EXPECT_EQ(keychain.remove(CloudSyncCrypto::syncKeyQuery()), Keychain::itemNotFound);
    EXPECT_EQ(loadError(), Error::noKeyYet());
}

TEST_F(KeychainIntegration, ItemStoredByAnotherToolIsFound) {
    QProcess secretTool;
    secretTool.start("secret-tool", {"store", "--label=from another tool", "service",
                                     "net.brontal.zorvik.sync", "account", "sync-key"});
    ASSERT_TRUE(secretTool.waitForStarted());
    secretTool.write(QByteArray(32, 'z'));
    secretTool.closeWriteChannel();
    ASSERT_TRUE(secretTool.waitForFinished());
    ASSERT_EQ(secretTool.exitCode(), 0) << secretTool.readAllStandardError().toStdString();
    EXPECT_EQ(CloudSyncCrypto::loadSyncKey(keychain).bytes(), QByteArray(32, 'z'));
}

TEST_F(KeychainIntegration, NoSecretServiceOnTheBusIsNotAvailable) {
    // A bus of its own, listening in a directory of its own, that nobody serves secrets on.
    QTemporaryDir directory;
    const QString config = writePrivateBusConfig(directory.path());
    QProcess probe;
    probe.start("dbus-run-session",
                {"--config-file=" + config, "--", ZORVIK_PHONE_PATH, "key", "export"});
    ASSERT_TRUE(probe.waitForFinished(20000));
    EXPECT_EQ(probe.exitCode(), 1);
    // The bus daemon writes its own lines there too.
    const QString errors = QString::fromUtf8(probe.readAllStandardError());
    EXPECT_TRUE(errors.contains("zorvik-phone: keychain error -25291\n")) << errors.toStdString();
}

}  // namespace
