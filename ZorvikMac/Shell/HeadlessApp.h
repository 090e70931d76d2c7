#pragma once

#include <memory>
#include <optional>

#include "LatestCodeStore.h"

class AppGroupContainers;
class ClipboardPublisher;
class CloudContainer;
class CodeReceiver;
class CredentialIdentities;
class CredentialIdentityStore;
class Keychain;
class LoginItemService;
class MacSettings;
class MainActor;
class Notifier;
class Pasteboard;
class RemoteNotifications;
class SystemLog;
class UserDefaults;
class UserNotificationCenter;
class Workspace;
struct BundleInfo;

// The application without its tray and popover: receives codes and publishes them to the
// shared file, the clipboard, the notification centre and the credential identities. Used
// for demos, end-to-end tests and desktops without a tray.
class HeadlessApp {
public:
    struct Services {
        MainActor& mainActor;
        SystemLog& systemLog;
        Keychain& keychain;
        AppGroupContainers& appGroupContainers;
        UserDefaults& userDefaults;
        LoginItemService& loginItemService;
        Pasteboard& pasteboard;
        UserNotificationCenter& userNotificationCenter;
        CredentialIdentityStore& credentialIdentityStore;
        CloudContainer& cloudContainer;
        RemoteNotifications& remoteNotifications;
        Workspace& workspace;
    };

    HeadlessApp(Services services, const BundleInfo& bundle);
    ~HeadlessApp();

    // Takes the settings, makes the store, the receiver and the notifier, registers for pushes
    // and starts the receiver.
    void launch();

    CodeReceiver& receiver() { return *receiver_; }

private:
    Services services_;
    std::unique_ptr<MacSettings> settings_;
    std::unique_ptr<ClipboardPublisher> clipboard_;
    std::unique_ptr<Notifier> notifier_;
    std::unique_ptr<CredentialIdentities> identities_;
    std::unique_ptr<CodeReceiver> receiver_;
};
