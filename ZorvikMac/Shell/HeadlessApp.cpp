#include "HeadlessApp.h"

#include "ClipboardPublisher.h"
#include "CodeReceiver.h"
#include "CredentialIdentities.h"
#include "MacSettings.h"
#include "Notifier.h"
#include "RemoteNotifications.h"

HeadlessApp::HeadlessApp(Services services, const BundleInfo& bundle) : services_(services) {
    settings_ = std::make_unique<MacSettings>(services_.userDefaults, services_.loginItemService);
    clipboard_ = std::make_unique<ClipboardPublisher>(services_.pasteboard, services_.mainActor);
    notifier_ = std::make_unique<Notifier>(services_.userNotificationCenter, services_.mainActor,
                                           *clipboard_);
    identities_ = std::make_unique<CredentialIdentities>(services_.credentialIdentityStore,
                                                         services_.mainActor);
    CodeReceiver::Services receiverServices{services_.mainActor,
                                            services_.systemLog,
                                            services_.keychain,
                                            &services_.cloudContainer,
                                            services_.remoteNotifications,
                                            services_.workspace,
                                            *clipboard_,
                                            notifier_.get(),
                                            identities_.get(),
                                            bundle};
    receiver_ = std::make_unique<CodeReceiver>(*settings_,
                                               LatestCodeStore::make(services_.appGroupContainers),
                                               false, services_.userDefaults, receiverServices);
}

HeadlessApp::~HeadlessApp() = default;

void HeadlessApp::launch() {
    notifier_->setUp();
    CodeReceiver* receiver = receiver_.get();
    services_.remoteNotifications.setHandlers({
        [receiver] { receiver->setPushRegistration(true, std::nullopt); },
        [receiver](const QString& error) { receiver->setPushRegistration(false, error); },
        [receiver](const QVariantMap& userInfo) { receiver->handleRemoteNotification(userInfo); },
    });
    services_.remoteNotifications.registerForRemoteNotifications();
    receiver_->start();
}
