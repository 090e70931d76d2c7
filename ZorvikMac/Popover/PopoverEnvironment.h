// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimeZone>

class AutoFillSettings;
class CloudAccountSignIn;
class KeyPairing;
class MainActor;
class SystemLog;
class Workspace;

// What the popover's views need of the platform besides the receiver and the settings: the main
// actor for their schedules and tasks, the desktop for the checklist's buttons, the log of those
// buttons, and the user's time zone for the checklist's times.
struct PopoverEnvironment {
    MainActor& mainActor;
    Workspace& workspace;
    AutoFillSettings& autoFillSettings;
    SystemLog& systemLog;
    QTimeZone timeZone = QTimeZone::systemTimeZone();
    // Signing in to the cloud's web service; absent where the desktop has its own account.
    CloudAccountSignIn* cloudSignIn = nullptr;
    // Receiving the sync key from the phone; absent where the keychain brings it.
    KeyPairing* keyPairing = nullptr;
    // Whether the panel draws the code beside the tray item; where it does not (Plasma, Xfce), the
    // code is in the item's tooltip and the setting says so.
    bool panelDrawsCode = true;
};
