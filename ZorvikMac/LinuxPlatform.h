// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>

#include "ZorvikMac/Clouds.h"
#include "platform/Platform.h"
#include "platform/linux/DBusDiagnosticsChannel.h"
#include "platform/linux/JournalSystemLog.h"
#include "platform/linux/QSettingsUserDefaults.h"
#include "platform/linux/QtMainActor.h"
#include "platform/linux/TerminalQuestion.h"
#include "platform/linux/XdgAppGroupContainers.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "platform/linux/browser/FileCredentialIdentityStore.h"
#include "platform/linux/browser/LinuxAutoFillSettings.h"
#include "platform/linux/desktop/DataControlPasteboard.h"
#include "platform/linux/desktop/FreedesktopNotificationCenter.h"
#include "platform/linux/desktop/QtPasteboard.h"
#include "platform/linux/keyring/SecretServiceKeychain.h"

// The services the application is written against, each made from its Linux implementation,
// for the tray application and the headless one. Members are made in the order written and
// ended in the reverse.
class LinuxPlatform {
public:
    struct Choices {
        // Every log line also goes to stderr.
        bool logToStderr = false;
        bool embeddedOnly = false;
        // Signing in from a terminal: the account the browser brings back is confirmed there.
        bool signInAtTerminal = false;
        CloudWebConfiguration cloud;
    };

    explicit LinuxPlatform(Choices choices);

    const Platform& platform() const { return platform_; }
    SystemLog& systemLog() { return systemLog_; }
    MainActor& mainActor() { return mainActor_; }
    Clouds& clouds() { return clouds_; }
    // Whether the clipboard goes through the Wayland compositor's data control.
    bool usesDataControl() const { return dataControl_ != nullptr; }

private:
    Pasteboard& choosePasteboard();
    bool sendFileFaultsToTheLog();
    SwitchingCloud::Options cloudOptions(const Choices& choices);

    // The clipboard before the main actor, so the actor and its pending clear go first.
    // Where the Wayland compositor offers data control (wlroots, KWin), the clipboard goes
    // through it alone, whichever platform Qt runs on: the compositor hands the entry on to X11
    // programs itself, and an X11 entry of ours beside it would only fight it for the selection.
    // Elsewhere (mutter, X11 alone, no display) the toolkit's clipboard.
    std::unique_ptr<DataControlPasteboard> dataControl_;
    std::optional<QtPasteboard> toolkitPasteboard_;
    Pasteboard& pasteboard_;
    JournalSystemLog systemLog_;
    QtMainActor mainActor_;
    // Before anything that may repair or refuse a file or folder, so that its note is logged.
    [[maybe_unused]] bool fileFaultsLogged_ = sendFileFaultsToTheLog();
    SecretServiceKeychain keychain_;
    XdgAppGroupContainers containers_;
    QSettingsUserDefaults userDefaults_;
    XdgAutostartLoginItem loginItem_;
    FreedesktopNotificationCenter notificationCenter_;
    FileCredentialIdentityStore identityStore_;
    std::unique_ptr<TerminalQuestion> terminal_;
    Clouds clouds_;
    LinuxAutoFillSettings autoFillSettings_;
    // The newest copy answers `ZorvikMac --diagnostics` once it has launched.
    DBusDiagnosticsChannel diagnostics_;
    const Platform platform_;
};
