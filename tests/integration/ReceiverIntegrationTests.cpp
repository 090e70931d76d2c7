// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "ZorvikMac/CodeDelivery/ClipboardPublisher.h"
#include "ZorvikMac/CodeDelivery/CredentialIdentities.h"
#include "ZorvikMac/CodeDelivery/Notifier.h"
#include "ZorvikMac/Readiness/MacSettings.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "platform/linux/QSettingsUserDefaults.h"
#include "platform/linux/QtMainActor.h"
#include "platform/linux/cloud/LocalCloud.h"
#include "tests/support/FakeCredentialIdentityStore.h"
#include "tests/support/FakeKeychain.h"
#include "tests/support/FakeLoginItemService.h"
#include "tests/support/FakePasteboard.h"
#include "tests/support/FakeUserNotificationCenter.h"
#include "tests/support/FakeWorkspace.h"
#include "tests/support/RecordingSystemLog.h"
#include "tests/support/SessionProcess.h"
#include "tests/support/TemporaryAppGroupContainers.h"

namespace {

// The real cloud directory, the real phone tool and the real Qt main actor; the clipboard,
// notification centre and identity store are recording fakes.
class ReceiverOnTheLocalCloud : public testing::Test {
protected:
    static constexpr char kKey[] = "0123456789abcdef0123456789abcdef";

    void SetUp() override {
        keychain.items.insert({"net.brontal.zorvik.sync", "sync-key"}, QByteArray(kKey));
        QFile keyFile(directory.filePath("sync.key"));
        ASSERT_TRUE(keyFile.open(QIODevice::WriteOnly));
        keyFile.write(kKey);
        keyFile.close();
        CodeReceiver::Services services{
            mainActor, log,       keychain,  &cloud,      cloud.remoteNotifications(),
            workspace, clipboard, &notifier, &identities, {"1.0", "1", "6.1.0", std::nullopt}};
        receiver = std::make_unique<CodeReceiver>(settings, store, false, defaults, services);
        cloud.remoteNotifications().setHandlers({
            [this] { receiver->setPushRegistration(true, std::nullopt); },
            [this](const QString& error) { receiver->setPushRegistration(false, error); },
            [this](const QVariantMap& userInfo) { receiver->handleRemoteNotification(userInfo); },
        });
        // Pushes alone must bring the code: background polling would hide a broken push path.
        settings.setPollInterval(3600);
    }
    void TearDown() override { receiver.reset(); }

    int phone(const QStringList& arguments) {
        QProcess process;
        process.start(ZORVIK_PHONE_PATH,
                      arguments + QStringList{"--cloud-dir", cloudDirectory, "--key-file",
                                              directory.filePath("sync.key")});
        process.waitForFinished(20000);
        return process.exitCode();
    }

    QTemporaryDir directory;
    QString cloudDirectory = directory.filePath("cloud/iCloud.net.brontal.zorvik");
    QtMainActor mainActor;
    RecordingSystemLog log;
    FakeKeychain keychain;
    LocalCloud cloud{mainActor, cloudDirectory};
    FakeWorkspace workspace{mainActor};
    FakePasteboard pasteboard;
    ClipboardPublisher clipboard{pasteboard, mainActor};
    FakeUserNotificationCenter center{mainActor};
    Notifier notifier{center, mainActor, clipboard};
    FakeCredentialIdentityStore identityStore{mainActor};
    CredentialIdentities identities{identityStore, mainActor};
    QSettingsUserDefaults defaults{directory.filePath("ZorvikMac.conf")};
    FakeLoginItemService loginItem;
    MacSettings settings{defaults, loginItem};
    TemporaryAppGroupContainers containers;
    std::optional<LatestCodeStore> store = LatestCodeStore::make(containers);
    std::unique_ptr<CodeReceiver> receiver;
};

// The phone tool's code reaches the identity store by push alone, with its device and service.
TEST_F(ReceiverOnTheLocalCloud, ACodeSentByThePhoneArrivesByPushAlone) {
    receiver->start();
    cloud.remoteNotifications().registerForRemoteNotifications();
    ASSERT_TRUE(runEventsUntil([&] { return receiver->probe().subscriptionSaved == true; }, 10000));
    ASSERT_EQ(receiver->probe().pushRegistered, true);
    ASSERT_TRUE(
        runEventsUntil([&] { return receiver->info().lastFetchResult.has_value(); }, 10000));
    const int fetchesBefore = static_cast<int>(log.messages().count("fetch: nothing pending"));

    ASSERT_EQ(phone({"send", "--account", "Work", "--code", "482913", "--service", "github",
                     "--ttl", "60"}),
              0);
    ASSERT_TRUE(runEventsUntil([&] { return receiver->latest().has_value(); }, 10000));
    EXPECT_EQ(receiver->latest()->fromDevice, "iPhone");
    ASSERT_TRUE(runEventsUntil([&] { return identityStore.identities.size() == 1; }, 5000));
    EXPECT_EQ(identityStore.identities[0].serviceIdentifier, "github.com");
    EXPECT_EQ(static_cast<int>(log.messages().count("fetch: nothing pending")), fetchesBefore)
        << "no poll happened in between";
}

}  // namespace
