// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>

#include "platform/Platform.h"
#include "shared/LatestCodeStore.h"

class ClipboardPublisher;
class CodeReceiver;
class CredentialIdentities;
class KeyPairing;
class MacSettings;
class Notifier;
struct BundleInfo;

// The application without its tray and popover: receives codes and publishes them to the
// shared file, the clipboard, the notification centre and the credential identities. Used
// for demos, end-to-end tests and desktops without a tray.
class HeadlessApp {
public:
    HeadlessApp(const Platform& platform, const BundleInfo& bundle);
    ~HeadlessApp();

    // Takes the settings, makes the store, the receiver and the notifier, registers for pushes
    // and starts the receiver.
    void launch();

    // Runs once as the application quits, however it was asked to: takes the held code off
    // the clipboard if the clipboard still holds exactly that code, and leaves anything else.
    void applicationWillTerminate();

    CodeReceiver& receiver() { return *receiver_; }
    MacSettings& settings() { return *settings_; }
    // Receiving the sync key from the phone.
    KeyPairing& keyPairing() { return *keyPairing_; }

private:
    Platform platform_;
    std::unique_ptr<MacSettings> settings_;
    std::unique_ptr<ClipboardPublisher> clipboard_;
    std::unique_ptr<Notifier> notifier_;
    std::unique_ptr<CredentialIdentities> identities_;
    std::unique_ptr<CodeReceiver> receiver_;
    std::unique_ptr<KeyPairing> keyPairing_;
    bool terminated_ = false;
};
