#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <optional>
#include <variant>

#include "CloudWebContainer.h"
#include "CloudWebSession.h"
#include "FakeKeychain.h"
#include "FakeWorkspace.h"
#include "LocalCloud.h"
#include "ManualMainActor.h"
#include "RecordingSystemLog.h"
#include "ScriptedCloudWebTransport.h"
#include "SwitchingCloud.h"
#include "WebCourierPush.h"

// Which cloud the application starts on, decided by the session the keychain holds, and a
// keychain that is slow, locked or refusing while it decides.
namespace {

class SwitchingCloudTest : public testing::Test {
protected:
    void storeSession() {
        keychain.items.insert(FakeKeychain::keyOf(CloudWebSession::tokenQuery()), "session");
    }
    void start() {
        cloud.emplace(actor, workspace, systemLog, embedded, &webCloud, &webPush,
                      SwitchingCloud::Options{});
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
    ManualMainActor actor;
    FakeKeychain keychain;
    RecordingSystemLog systemLog;
    FakeWorkspace workspace{actor};
    ScriptedCloudWebTransport transport{actor};
    LocalCloud embedded{actor, directory.filePath(QStringLiteral("cloud"))};
    CloudWebSession session{actor, transport, keychain, systemLog,
                            scriptedServiceConfiguration(QStringLiteral("api-token"))};
    CloudWebContainer webCloud{session, directory.filePath(QStringLiteral("subscriptions.json"))};
    WebCourierPush webPush{actor, session, transport, systemLog};
    std::optional<SwitchingCloud> cloud;
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
    transport.answerLast(ScriptedCloudWebTransport::ok());
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

}  // namespace
