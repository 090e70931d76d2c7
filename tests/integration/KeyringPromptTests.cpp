// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <memory>

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "platform/linux/keyring/SecretServiceKeychain.h"
#include "tests/support/SessionEnvironment.h"
#include "tests/support/SessionProcess.h"

// The keyring locked and unlocked under the app: gnome-keyring's signals, and its password
// prompt (gcr-prompter, a window on the session's display) answered as the user would.
namespace {

// Runs against the session's gnome-keyring; each test starts and ends without a sync key.
class KeyringPrompt : public testing::Test {
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

bool keyringPromptShown() {
    return runProcess("xdotool", {"search", "--onlyvisible", "--name", "Unlock Login Keyring"})
               .exitCode == 0;
}

// Asks for the unlock and answers the keyring's own prompt window, as the user would, with the
// xdotool commands given (again every few seconds while the window stays, in case the keys
// came before it took the keyboard); returns the keychain's answer, or nothing when none came.
std::optional<std::int32_t> unlockAnsweringThePrompt(Keychain& keychain,
                                                     const QList<QStringList>& keystrokes) {
    // Shared, so an answer after the wait gave up lands nowhere harmful.
    const auto answer = std::make_shared<std::optional<std::int32_t>>();
    keychain.unlock(CloudSyncCrypto::syncKeyQuery(),
                    [answer](std::int32_t status) { *answer = status; });
    const QDeadlineTimer deadline(20000);
    std::optional<QDeadlineTimer> answerAgain;
    while (!*answer && !deadline.hasExpired()) {
        QEventLoop().processEvents(QEventLoop::AllEvents, 50);
        if ((!answerAgain || answerAgain->hasExpired()) && keyringPromptShown()) {
            QThread::msleep(300);  // the dialog takes the keyboard once it is drawn
            for (const QStringList& keystroke : keystrokes) {
                runProcess("xdotool", keystroke);
            }
            answerAgain = QDeadlineTimer(3000);
        }
    }
    EXPECT_TRUE(answerAgain) << "the keyring's prompt never showed";
    return *answer;
}

// Every call the session's gnome-keyring makes to its password prompter (gcr-prompter, which the
// bus starts on the first call), as dbus-monitor sees them go by.
class PrompterCalls {
public:
    PrompterCalls() {
        monitor_.start("dbus-monitor",
                       {"--session", "destination='org.gnome.keyring.SystemPrompter'",
                        QStringLiteral("type='signal',member='%1'").arg(kMark)});
        EXPECT_TRUE(caughtUp()) << "dbus-monitor never listened";
    }
    ~PrompterCalls() {
        monitor_.kill();
        monitor_.waitForFinished(1000);
    }

    // The calls so far: everything the bus carried before now is counted.
    int count() {
        EXPECT_TRUE(caughtUp()) << "dbus-monitor stopped listening";
        return static_cast<int>(output_.count("destination=org.gnome.keyring.SystemPrompter"));
    }

private:
    static constexpr auto kMark = "PrompterCallsMark";

    // Sends a signal of its own and waits until the monitor has shown it: the bus hands a
    // monitor its messages in order, so every earlier call to the prompter has been shown too.
    // Sent again while unseen, as the first ones may come before the monitor listens.
    bool caughtUp() {
        const qsizetype seen = output_.count(kMark);
        for (int attempt = 0; attempt < 50; ++attempt) {
            QDBusConnection::sessionBus().send(QDBusMessage::createSignal(
                "/net/brontal/zorvik/test", "net.brontal.zorvik.Test", kMark));
            if (runEventsUntil(
                    [&] {
                        output_ += monitor_.readAllStandardOutput();
                        return output_.count(kMark) > seen;
                    },
                    200)) {
                return true;
            }
        }
        return false;
    }

    QProcess monitor_;
    QByteArray output_;
};

std::int32_t answerToUnlockWithoutPrompt(Keychain& keychain) {
    // Shared, so an answer after the wait gave up lands nowhere harmful.
    const auto answer = std::make_shared<std::optional<std::int32_t>>();
    keychain.unlockWithoutPrompt(CloudSyncCrypto::syncKeyQuery(),
                                 [answer](std::int32_t status) { *answer = status; });
    EXPECT_FALSE(*answer) << "answered inside the call";
    EXPECT_TRUE(runEventsUntil([&] { return answer->has_value(); }, 10000)) << "no answer";
    return answer->value_or(Keychain::otherFailure);
}

// The keys a user presses to answer the prompt with the session keyring's password.
QList<QStringList> typingThePassword() {
    QFile file(qEnvironmentVariable("ZORVIK_SESSION_DIR") + "/keyring-password");
    const QString password =
        file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    return {{"key", "ctrl+a"}, {"type", "--delay", "10", password}, {"key", "Return"}};
}

// The read and the store that never block answer after the call, from the event loop; every change
// a cached key must follow (another tool storing or deleting it, the keyring locking) is heard.
// Once locked, reading never prompts; unlocking, which the user asks for, shows gnome-keyring's
// prompt (gcr-prompter on the session's display), and the key is readable once it is answered.
TEST_F(KeyringPrompt, AnswersLaterHearsEveryChangeAndALockedKeyringOpensOnlyThroughItsPrompt) {
    const QByteArray key(32, 'c');
    std::optional<std::int32_t> stored;
    keychain.storeLater(CloudSyncCrypto::syncKeyQuery(), key,
                        [&](std::int32_t status) { stored = status; });
    EXPECT_FALSE(stored) << "answered inside the call";
    ASSERT_TRUE(runEventsUntil([&] { return stored.has_value(); }));
    EXPECT_EQ(stored, Keychain::success);
    std::optional<Keychain::Result> answer;
    keychain.copyMatchingLater(CloudSyncCrypto::syncKeyQuery(),
                               [&](Keychain::Result result) { answer = result; });
    EXPECT_FALSE(answer) << "answered inside the call";
    ASSERT_TRUE(runEventsUntil([&] { return answer.has_value(); }));
    EXPECT_EQ(answer->status, Keychain::success);
    EXPECT_EQ(answer->data, key);

    int changes = 0;
    keychain.setChangeObserver(CloudSyncCrypto::syncKeyQuery(), [&] { ++changes; });
    const auto heardAfter = [&](const QStringList& secretTool, const QByteArray& input) {
        const int before = changes;
        EXPECT_EQ(runProcess("secret-tool", secretTool, 5000, input).exitCode, 0);
        return runEventsUntil([&] { return changes > before; });
    };
    const QStringList item{"service", "net.brontal.zorvik.sync", "account", "sync-key"};
    const QByteArray replaced(32, 'r');
    // Another item stored over and over, as the cloud's session is at every answer, is not a
    // change of the key; the key's own store right after it is, once.
    const QStringList other{"store",   "--label=session", "service", "net.brontal.zorvik.cloudkit",
                            "account", "web-auth-token"};
    const int beforeOthers = changes;
    for (int store = 0; store < 3; ++store) {
        EXPECT_EQ(runProcess("secret-tool", other, 5000, "token").exitCode, 0);
    }
    EXPECT_TRUE(heardAfter(QStringList{"store", "--label=replaced"} + item, replaced));
    runEventsUntil([] { return false; }, 300);
    EXPECT_EQ(changes, beforeOthers + 1) << "another item's stores were reported";
    const int beforeLock = changes;
    lockTheDefaultKeyring();
    EXPECT_TRUE(runEventsUntil([&] { return changes > beforeLock; })) << "locking was not heard";
    keychain.setChangeObserver(CloudSyncCrypto::syncKeyQuery(), nullptr);
    EXPECT_EQ(keychain.copyMatching(CloudSyncCrypto::syncKeyQuery()).status,
              Keychain::interactionNotAllowed);

    EXPECT_EQ(unlockAnsweringThePrompt(keychain, {{"key", "Escape"}}), Keychain::userCanceled);
    EXPECT_EQ(keychain.copyMatching(CloudSyncCrypto::syncKeyQuery()).status,
              Keychain::interactionNotAllowed);

    EXPECT_EQ(unlockAnsweringThePrompt(keychain, typingThePassword()), Keychain::success);
    EXPECT_EQ(CloudSyncCrypto::loadSyncKey(keychain).bytes(), replaced);
    // Nothing is locked any more: the next unlock answers without a prompt.
    std::optional<std::int32_t> again;
    keychain.unlock(CloudSyncCrypto::syncKeyQuery(), [&](std::int32_t status) { again = status; });
    runEventsUntil([&] { return again.has_value(); });
    EXPECT_EQ(again, Keychain::success);

    keychain.setChangeObserver(CloudSyncCrypto::syncKeyQuery(), [&] { ++changes; });
    EXPECT_TRUE(heardAfter(QStringList{"clear"} + item, {}));
    keychain.setChangeObserver(CloudSyncCrypto::syncKeyQuery(), nullptr);

    // With no key stored yet, unlocking opens the keyring the key would be stored in.
    lockTheDefaultKeyring();
    EXPECT_EQ(unlockAnsweringThePrompt(keychain, typingThePassword()), Keychain::success);
}

// Opening the keyring without a prompt, as a check may do on its own, opens only what needs no
// password: gnome-keyring's locked login keyring would, so its prompter is never called and the
// keyring stays locked. The prompter watch does see the prompt of the unlock the user asks for.
TEST_F(KeyringPrompt, UnlockingWithoutAPromptNeverCallsThePrompterOfALockedKeyring) {
    const QByteArray key(32, 'w');
    ASSERT_EQ(keychain.store(CloudSyncCrypto::syncKeyQuery(), key), Keychain::success);
    EXPECT_EQ(answerToUnlockWithoutPrompt(keychain), Keychain::success);

    PrompterCalls prompterCalls;
    lockTheDefaultKeyring();
    EXPECT_EQ(answerToUnlockWithoutPrompt(keychain), Keychain::interactionNotAllowed);
    EXPECT_EQ(prompterCalls.count(), 0);
    EXPECT_FALSE(keyringPromptShown());
    EXPECT_EQ(keychain.copyMatching(CloudSyncCrypto::syncKeyQuery()).status,
              Keychain::interactionNotAllowed);

    EXPECT_EQ(unlockAnsweringThePrompt(keychain, typingThePassword()), Keychain::success);
    const int afterPrompt = prompterCalls.count();
    EXPECT_GT(afterPrompt, 0) << "the watch missed the prompt the user answered";
    EXPECT_EQ(answerToUnlockWithoutPrompt(keychain), Keychain::success);
    EXPECT_EQ(CloudSyncCrypto::loadSyncKey(keychain).bytes(), key);

    // With no key stored, it is the keyring the key would go to that is asked.
    ASSERT_EQ(keychain.remove(CloudSyncCrypto::syncKeyQuery()), Keychain::success);
    lockTheDefaultKeyring();
    EXPECT_EQ(answerToUnlockWithoutPrompt(keychain), Keychain::interactionNotAllowed);
    EXPECT_EQ(prompterCalls.count(), afterPrompt);
    EXPECT_FALSE(keyringPromptShown());
    // Left unlocked, as the session started.
    EXPECT_EQ(unlockAnsweringThePrompt(keychain, typingThePassword()), Keychain::success);
}

}  // namespace
