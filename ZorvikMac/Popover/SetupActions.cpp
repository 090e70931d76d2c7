// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/Popover/SetupActions.h"

#include "ZorvikMac/CodeIntake/KeyPairing.h"
#include "ZorvikMac/Readiness/MacSettings.h"
#include "platform/CloudContainer.h"
#include "platform/Logger.h"
#include "platform/Workspace.h"

namespace {

// Opens a settings pane, else the settings application for the user to find it there.
void openSettings(Workspace& workspace, const char* url) {
    if (!workspace.openURL(QString::fromLatin1(url))) {
        workspace.openApplication(QString::fromLatin1(Workspace::systemSettingsApplication));
    }
}

}  // namespace

void performSetupAction(SetupRow::Action action, MacSettings& settings,
                        const PopoverEnvironment& environment, const Logger& logger,
                        const std::optional<QString>& account) {
    Workspace& workspace = environment.workspace;
    CloudAccountSignIn* cloudSignIn = environment.cloudSignIn;
    switch (action) {
        case SetupRow::Action::openICloudSettings:
            openSettings(workspace, Workspace::iCloudSettingsURL);
            break;
        case SetupRow::Action::openNotificationSettings:
            openSettings(workspace, Workspace::notificationSettingsURL);
            break;
        case SetupRow::Action::turnOnAutoFill:
            environment.autoFillSettings.openCredentialProviderAppSettings();
            break;
        case SetupRow::Action::toggleLaunchAtLogin:
            settings.setLaunchAtLogin(!settings.launchAtLogin());
            break;
        case SetupRow::Action::signInToICloud:
            if (cloudSignIn != nullptr) {
                cloudSignIn->signIn();
            } else {
                openSettings(workspace, Workspace::iCloudSettingsURL);
            }
            break;
        case SetupRow::Action::signOutOfICloud:
            if (cloudSignIn != nullptr) {
                cloudSignIn->signOut();
            }
            break;
        case SetupRow::Action::confirmICloudAccount:
            if (cloudSignIn != nullptr && account) {
                cloudSignIn->confirmSignIn(*account);
            }
            break;
        case SetupRow::Action::declineICloudAccount:
            if (cloudSignIn != nullptr) {
                cloudSignIn->declineSignIn();
            }
            break;
        case SetupRow::Action::pairWithIPhone:
            if (environment.keyPairing != nullptr) {
                environment.keyPairing->start();
            } else {
                openSettings(workspace, Workspace::iCloudSettingsURL);
            }
            break;
        case SetupRow::Action::unlockKeyring:
            // The receiver unlocks, as it reads the key again once the keyring is open.
            break;
    }
    logger.info("setup action %{public}s", caseName(action));
}
