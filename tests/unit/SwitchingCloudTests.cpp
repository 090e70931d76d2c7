// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <unistd.h>
#include <QHostAddress>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <optional>
#include <variant>

#include "platform/linux/QSettingsUserDefaults.h"
#include "platform/linux/TerminalQuestion.h"
#include "platform/linux/cloud/CloudWebContainer.h"
#include "platform/linux/cloud/CloudWebSession.h"
#include "platform/linux/cloud/LocalCloud.h"
#include "platform/linux/cloud/SwitchingCloud.h"
#include "platform/linux/cloud/WebCourierPush.h"
#include "tests/support/FakeKeychain.h"
#include "tests/support/FakeWorkspace.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/RecordingSystemLog.h"
#include "tests/support/ScriptedCloudWebTransport.h"

// Which cloud the application starts on, decided by the session the keychain holds, and a
// keychain that is slow, locked or refusing while it decides.
namespace {

using Transport = ScriptedCloudWebTransport;
const auto kSessionKey = FakeKeychain::keyOf(CloudWebSession::tokenQuery());

class SwitchingCloudTest : public testing::Test {
protected:
    void storeSession() { keychain.items.insert(kSessionKey, "session"); }
    void start(SwitchingCloud::Options options = {}) {
        cloud.emplace(actor, workspace, systemLog, defaults, embedded, &webCloud, &webPush,
                      options);
    }
    bool sent(const QString& path) const {
        return std::any_of(transport.exchanges.begin(), transport.exchanges.end(),
                           [&](const auto& exchange) { return exchange.pathEndsWith(path); });
    }
    QStringList cloudLines() const {
        return systemLog.messages().filter(QRegularExpression(QStringLiteral("^cloud: ")));
    }
    std::optional<std::variant<int, CloudError>> accountStatus() {
        std::optional<std::variant<int, CloudError>> answer;
        cloud->accountStatus([&answer](std::variant<int, CloudError> status) { answer = status; });
        actor.runUntilIdle();
        return answer;
    }

    QTemporaryDir directory;
    QSettingsUserDefaults defaults{directory.filePath(QStringLiteral("ZorvikMac.conf"))};
    ManualMainActor actor;
    FakeKeychain keychain;
    RecordingSystemLog systemLog;
    FakeWorkspace workspace{actor};
    Transport transport{actor};
    LocalCloud embedded{actor, directory.filePath(QStringLiteral("cloud"))};
    CloudWebSession session{actor, transport, keychain, systemLog,
                            scriptedServiceConfiguration(QStringLiteral("api-token"))};
    CloudWebContainer webCloud{session, directory.filePath(QStringLiteral("subscriptions.json"))};
    WebCourierPush webPush{actor, session, transport, systemLog};
    std::optional<SwitchingCloud> cloud;
};

// Signing in through the browser, with a scripted service and a real loopback listener.
class SwitchingCloudSignInTest : public SwitchingCloudTest {
protected:
    // The service's answer to users/caller for the account of `email`.
    static CloudWebResponse caller(const QString& email, const QByteArray& rotatedToken = {}) {
        const QJsonObject user{{"userRecordName", "_u1"},
                               {"lookupInfo", QJsonObject{{"emailAddress", email}}}};
        return Transport::ok({{"users", QJsonArray{user}}}, rotatedToken);
    }
    // Starts on the embedded cloud and asks to sign in; the service offers `page`.
    void beginSignIn(const QString& page = QStringLiteral("https://signin.example.test/auth")) {
        start(options);
        actor.runUntilIdle();
        cloud->accountChanged = [this] { ++changes; };
        signInTo(page);
    }
    void signInTo(const QString& page) {
        cloud->signIn();
        actor.runUntilIdle();
        ASSERT_TRUE(transport.last().pathEndsWith(QStringLiteral("users/caller")));
        ASSERT_FALSE(transport.last().queryItem(QStringLiteral("ckWebAuthToken")));
        const QJsonObject refusal{{"serverErrorCode", "AUTHENTICATION_REQUIRED"},
                                  {"redirectURL", page}};
        transport.answerLast(Transport::withStatus(421, QJsonDocument(refusal).toJson()));
        actor.runUntilIdle();
    }
    // Sends the browser's return with `token`, has the service answer its check with
    // `answer`, and gives what the listener answered the browser.
    QByteArray comeBack(const QByteArray& token, const CloudWebResponse& answer) {
        QTcpSocket browser;
        browser.connectToHost(QHostAddress::LocalHost, cloud->signInPort());
        EXPECT_TRUE(browser.waitForConnected(5000));
        browser.write("GET /zorvik-signin?ckWebAuthToken=" + token + " HTTP/1.1\r\n\r\n");
        const std::size_t before = transport.sentCount();
        EXPECT_TRUE(QTest::qWaitFor([&] { return transport.sentCount() > before; }, 5000));
        const auto& check = transport.last();
        EXPECT_TRUE(check.pathEndsWith(QStringLiteral("users/caller")));
        EXPECT_EQ(check.queryItem(QStringLiteral("ckWebAuthToken")), QString::fromLatin1(token));
        transport.answerLast(answer);
        QByteArray received;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                actor.runUntilIdle();
                received += browser.readAll();
                return browser.state() == QAbstractSocket::UnconnectedState;
            },
            5000));
        return received + browser.readAll();
    }
    std::optional<QByteArray> storedSession() const {
        return keychain.items.contains(kSessionKey) ? std::optional(keychain.items[kSessionKey])
                                                    : std::nullopt;
    }

    SwitchingCloud::Options options;
    int changes = 0;
};

TEST_F(SwitchingCloudTest, AStoredSessionIsFoundWithoutBlockingAndWhatWaitedForItGoesToTheWeb) {
    storeSession();
    keychain.holdReads = true;
    start();
    cloud->remoteNotifications().registerForRemoteNotifications();
    bool fetched = false;
    cloud->privateCloudDatabase().fetchRecord("pending-code",
                                              [&fetched](const auto&) { fetched = true; });
    actor.runUntilIdle();
    EXPECT_TRUE(cloudLines().isEmpty()) << "chosen before the keychain answered";
    EXPECT_EQ(transport.sentCount(), 0u);
    EXPECT_FALSE(fetched) << "the embedded cloud answered a fetch meant for the web";
    EXPECT_FALSE(cloud->remoteNotifications().isRegisteredForRemoteNotifications());

    keychain.releaseHeld();
    actor.runUntilIdle();
    ASSERT_EQ(cloudLines().size(), 1);
    EXPECT_TRUE(cloudLines().first().startsWith(QStringLiteral("cloud: iCloud on the web")));
    EXPECT_EQ(cloud->backendInfo().kind, CloudBackendInfo::Kind::web);
    // One call at a time: the second leaves once the first has its answer.
    ASSERT_EQ(transport.sentCount(), 1u);
    transport.answerLast(Transport::ok());
    actor.runUntilIdle();
    EXPECT_TRUE(sent("tokens/create")) << "the push registration that waited stayed behind";
    EXPECT_TRUE(sent("records/lookup")) << "the fetch that waited stayed behind";
    EXPECT_EQ(keychain.laterReads, 1);
    EXPECT_EQ(keychain.blockingCalls, 0);
}

TEST_F(SwitchingCloudTest, WithoutASessionTheEmbeddedCloudAnswers) {
    start();
    const auto status = accountStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(std::get<int>(*status), CloudContainer::available);
    EXPECT_EQ(cloudLines(),
              QStringList{QStringLiteral("cloud: embedded cloud on this computer (%1)")
                              .arg(embedded.rootDirectory())});
    EXPECT_EQ(transport.sentCount(), 0u);
    EXPECT_EQ(keychain.blockingCalls, 0);
}

TEST_F(SwitchingCloudTest, ASessionBehindALockedKeyringIsTakenUpAtTheCheckAfterTheUnlock) {
    storeSession();
    keychain.failWith = Keychain::interactionNotAllowed;
    start();
    actor.runUntilIdle();
    EXPECT_EQ(cloud->backendInfo().kind, CloudBackendInfo::Kind::embedded);
    ASSERT_TRUE(accountStatus());
    EXPECT_EQ(cloud->backendInfo().kind, CloudBackendInfo::Kind::embedded);

    keychain.failWith.reset();
    accountStatus();
    EXPECT_EQ(cloud->backendInfo().kind, CloudBackendInfo::Kind::web);
    ASSERT_GE(transport.sentCount(), 1u);
    EXPECT_TRUE(transport.last().pathEndsWith(QStringLiteral("users/caller")));
    EXPECT_EQ(keychain.blockingCalls, 0);
}

TEST_F(SwitchingCloudTest, SigningOutGoesBackToTheEmbeddedCloudEvenIfTheKeychainRefuses) {
    storeSession();
    start();
    actor.runUntilIdle();
    ASSERT_EQ(cloud->backendInfo().kind, CloudBackendInfo::Kind::web);
    int changes = 0;
    cloud->accountChanged = [&changes] { ++changes; };
    keychain.failWith = Keychain::interactionNotAllowed;
    cloud->signOut();
    actor.runUntilIdle();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(cloud->backendInfo().kind, CloudBackendInfo::Kind::embedded);
    EXPECT_TRUE(systemLog.messages().contains(
        QStringLiteral("sign-out: the session could not be removed: the keyring is locked")))
        << systemLog.messages().join('\n').toStdString();
    keychain.failWith.reset();
    accountStatus();
    EXPECT_EQ(cloud->backendInfo().kind, CloudBackendInfo::Kind::embedded)
        << "the session signed out of came back at the next check";
    EXPECT_EQ(keychain.blockingCalls, 0);
}

TEST_F(SwitchingCloudSignInTest, ASessionIsUsedOnlyOnceTheServiceKnowsItAndTheUserConfirmsIt) {
    beginSignIn();
    EXPECT_EQ(workspace.openedURLs, QStringList{"https://signin.example.test/auth"});

    // Anyone can send a token: one the service refuses leaves nothing to confirm.
    comeBack("junk", Transport::withStatus(401, R"({"serverErrorCode":"AUTHENTICATION_FAILED"})"));
    EXPECT_EQ(cloud->backendInfo().accountToConfirm, std::nullopt);

    // A session the service knows waits for the user, with the token its answer gave.
    comeBack("sent", caller("me@example.com", "rotated"));
    EXPECT_EQ(cloud->signInPort(), 0);
    EXPECT_EQ(cloud->backendInfo().accountToConfirm, "me@example.com");
    EXPECT_EQ(cloud->backendInfo().kind, CloudBackendInfo::Kind::embedded);
    EXPECT_EQ(changes, 1);

    // A confirmation for another account than the one shown does nothing.
    cloud->confirmSignIn(QStringLiteral("other@example.com"));
    actor.runUntilIdle();
    EXPECT_FALSE(storedSession());
    cloud->confirmSignIn(QStringLiteral("me@example.com"));
    actor.runUntilIdle();
    EXPECT_EQ(storedSession(), "rotated");
    EXPECT_EQ(cloud->backendInfo().kind, CloudBackendInfo::Kind::web);
    EXPECT_EQ(cloud->backendInfo().account, "me@example.com");
    EXPECT_EQ(cloud->backendInfo().accountToConfirm, std::nullopt);
    EXPECT_EQ(changes, 2);
    // The sign-in's own lines name no account.
    EXPECT_FALSE(systemLog.messages().join('\n').contains("me@example.com"));

    // The name stays for the next start; signing out forgets it.
    cloud.reset();
    start();
    actor.runUntilIdle();
    EXPECT_EQ(cloud->backendInfo().account, "me@example.com");
    cloud->signOut();
    actor.runUntilIdle();
    EXPECT_EQ(cloud->backendInfo().account, std::nullopt);
    EXPECT_EQ(defaults.stringForKey(SwitchingCloud::accountKey), "");
}

TEST_F(SwitchingCloudSignInTest, AnAccountTurnedDownIsForgottenAndTheNextSignInStartsAfresh) {
    beginSignIn();
    comeBack("sent", caller("mallory@example.com"));
    ASSERT_EQ(cloud->backendInfo().accountToConfirm, "mallory@example.com");
    cloud->declineSignIn();
    actor.runUntilIdle();
    EXPECT_EQ(cloud->backendInfo().accountToConfirm, std::nullopt);
    EXPECT_EQ(cloud->backendInfo().note, "Sign-in cancelled: that account was not used.");
    cloud->confirmSignIn(QStringLiteral("mallory@example.com"));
    actor.runUntilIdle();
    EXPECT_FALSE(storedSession());
    EXPECT_EQ(cloud->backendInfo().kind, CloudBackendInfo::Kind::embedded);

    // A new sign-in drops an account still waiting.
    signInTo(QStringLiteral("https://s.test/"));
    comeBack("again", caller("mallory@example.com"));
    ASSERT_TRUE(cloud->backendInfo().accountToConfirm);
    cloud->signIn();
    actor.runUntilIdle();
    EXPECT_EQ(cloud->backendInfo().accountToConfirm, std::nullopt);
}

// Which pages may be followed is CloudWebConfigurationFollow's table; this is what one that may
// not be does to the sign-in.
TEST_F(SwitchingCloudSignInTest, OnlyAnHttpsSignInPageIsOpened) {
    beginSignIn(QStringLiteral("http://signin.test/"));
    EXPECT_TRUE(workspace.openedURLs.isEmpty());
    EXPECT_EQ(cloud->signInPort(), 0) << "still listening for a sign-in that cannot come";
    EXPECT_EQ(cloud->backendInfo().note,
              "Sign-in could not start: iCloud offered a sign-in page that is not https.");
}

TEST(CloudWebConfigurationFollow, OnlyHttpsIsFollowedExceptPlainHttpOnADevelopersService) {
    CloudWebConfiguration real;
    CloudWebConfiguration developer;
    developer.allowsPlainHttp = true;
    const struct {
        const char* url;
        bool real;
        bool developer;
    } rows[]{
        {"https://idmsa.example.test/signin?x=1", true, true},
        {"http://127.0.0.1:8080/signin", false, true},
        {"file:///etc/passwd", false, false},
        {"zorvik-helper://open", false, false},
        {"javascript:alert(1)", false, false},
        {"https:///no-host", false, false},
        {"ftp://example.test/", false, false},
        {"", false, false},
    };
    for (const auto& row : rows) {
        const QUrl url(QString::fromLatin1(row.url));
        EXPECT_EQ(real.mayFollow(url), row.real) << row.url;
        EXPECT_EQ(developer.mayFollow(url), row.developer) << row.url;
    }
}

TEST_F(SwitchingCloudSignInTest, AtATerminalTheAccountIsConfirmedByTypingYes) {
    int typed[2];
    int shown[2];
    ASSERT_EQ(pipe(typed), 0);
    ASSERT_EQ(pipe(shown), 0);
    TerminalQuestion terminal(typed[0], shown[1]);
    options.terminal = &terminal;
    beginSignIn();
    comeBack("sent", caller("me@example.com"));
    char question[512] = {};
    ASSERT_GT(read(shown[0], question, sizeof question - 1), 0);
    EXPECT_TRUE(QByteArray(question).endsWith("Use it? [yes/no] ")) << question;
    // Any case of yes is a yes.
    ASSERT_EQ(write(typed[1], "YES\n", 4), 4);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            actor.runUntilIdle();
            return storedSession().has_value();
        },
        5000));
    for (const int fd : {typed[0], typed[1], shown[0], shown[1]}) {
        close(fd);
    }
}

}  // namespace
