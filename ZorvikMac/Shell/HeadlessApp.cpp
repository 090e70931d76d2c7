// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Shell/HeadlessApp.h"

#include <QPointer>

#include "ZorvikMac/CodeDelivery/ClipboardPublisher.h"
#include "ZorvikMac/CodeDelivery/CredentialIdentities.h"
#include "ZorvikMac/CodeDelivery/Notifier.h"
#include "ZorvikMac/CodeIntake/KeyPairing.h"
#include "ZorvikMac/Readiness/MacSettings.h"
#include "ZorvikMac/Receiver/CodeReceiver.h"
#include "platform/CloudContainer.h"
#include "platform/DiagnosticsChannel.h"
#include "platform/MainActor.h"
#include "platform/Pasteboard.h"
#include "platform/RemoteNotifications.h"

namespace {

// A run of the checks that is under way asked the cloud before the change; a new run would be
// dropped while it lasts, so this one waits for it to end.
Task<void> recheckAndFetch(QPointer<CodeReceiver> receiver, MainActor& actor) {
    while (receiver && receiver->isChecking()) {
        co_await actor.sleep(0.1);
    }
    if (receiver) {
        co_await receiver->runChecks();
    }
    if (receiver) {
        co_await receiver->fetch();
    }
}

}  // namespace

HeadlessApp::HeadlessApp(const Platform& platform, const BundleInfo& bundle) : platform_(platform) {
    settings_ = std::make_unique<MacSettings>(platform_.userDefaults, platform_.loginItemService);
    clipboard_ = std::make_unique<ClipboardPublisher>(platform_.pasteboard, platform_.mainActor);
    notifier_ = std::make_unique<Notifier>(platform_.userNotificationCenter, platform_.mainActor,
                                           *clipboard_);
    identities_ = std::make_unique<CredentialIdentities>(platform_.credentialIdentityStore,
                                                         platform_.mainActor);
    CodeReceiver::Services receiverServices{platform_.mainActor,
                                            platform_.systemLog,
                                            platform_.keychain,
                                            &platform_.cloudContainer,
                                            platform_.remoteNotifications,
                                            platform_.workspace,
                                            *clipboard_,
                                            notifier_.get(),
                                            identities_.get(),
                                            bundle};
    receiver_ = std::make_unique<CodeReceiver>(*settings_,
                                               LatestCodeStore::make(platform_.appGroupContainers),
                                               false, platform_.userDefaults, receiverServices);
    keyPairing_ = std::make_unique<KeyPairing>(platform_.mainActor,
                                               &platform_.cloudContainer.privateCloudDatabase(),
                                               platform_.keychain, platform_.systemLog);
}

HeadlessApp::~HeadlessApp() {
    if (platform_.cloudSignIn != nullptr) {
        platform_.cloudSignIn->accountChanged = nullptr;
    }
}

void HeadlessApp::launch() {
    notifier_->setUp();
    CodeReceiver* receiver = receiver_.get();
    platform_.remoteNotifications.setHandlers({
        [receiver] { receiver->setPushRegistration(true, std::nullopt); },
        [receiver](const QString& error) { receiver->setPushRegistration(false, error); },
        [receiver](const QVariantMap& userInfo) { receiver->handleRemoteNotification(userInfo); },
    });
    platform_.remoteNotifications.registerForRemoteNotifications();
    if (platform_.diagnostics != nullptr) {
        platform_.diagnostics->offer([receiver = QPointer<CodeReceiver>(receiver)] {
            return receiver ? receiver->diagnosticsSnapshot() : QString();
        });
    }
    // A key from the phone opens the code that waits for it, without a restart.
    keyPairing_->keyStored = [receiver = QPointer<CodeReceiver>(receiver),
                              &actor = platform_.mainActor] {
        actor.spawn(recheckAndFetch(receiver, actor));
    };
    if (platform_.cloudSignIn != nullptr) {
        // A sign-in or sign-out changes where codes come from: check at once and fetch.
        platform_.cloudSignIn->accountChanged = [receiver = QPointer<CodeReceiver>(receiver),
                                                 &actor = platform_.mainActor] {
            actor.spawn(recheckAndFetch(receiver, actor));
        };
    }
    receiver_->start();
}

void HeadlessApp::applicationWillTerminate() {
    if (terminated_) {
        return;
    }
    terminated_ = true;
    const std::optional<LatestCode>& latest = receiver_->latest();
    const QString plainText = QString::fromLatin1(Pasteboard::stringType);
    if (latest && platform_.pasteboard.string(plainText) == latest->code) {
        platform_.pasteboard.clearContents();
    }
}
