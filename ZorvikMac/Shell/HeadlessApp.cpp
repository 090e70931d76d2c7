#include "HeadlessApp.h"

#include "ClipboardPublisher.h"
#include "CodeReceiver.h"
#include "CredentialIdentities.h"
#include "MacSettings.h"
#include "Notifier.h"
#include "Pasteboard.h"
#include "RemoteNotifications.h"

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
}

HeadlessApp::~HeadlessApp() = default;

void HeadlessApp::launch() {
    notifier_->setUp();
    CodeReceiver* receiver = receiver_.get();
    platform_.remoteNotifications.setHandlers({
        [receiver] { receiver->setPushRegistration(true, std::nullopt); },
        [receiver](const QString& error) { receiver->setPushRegistration(false, error); },
        [receiver](const QVariantMap& userInfo) { receiver->handleRemoteNotification(userInfo); },
    });
    platform_.remoteNotifications.registerForRemoteNotifications();
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
