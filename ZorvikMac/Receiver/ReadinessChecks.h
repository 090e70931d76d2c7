// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimeZone>

#include "platform/Task.h"

class CloudContainer;
class CloudDatabase;
class CredentialIdentities;
class MacSettings;
class MainActor;
class Notifier;
class OnChangeLogger;
class ReadinessState;
class RemoteNotifications;
class SyncKeyCache;

// One run of the readiness checks: the cloud account, the sync key in the keyring, the push
// registration and the record's subscription, AutoFill, notifications and the login item, each
// noted in the readiness state, and every row's outcome in the routine log.
class ReadinessChecks {
public:
    // What the checks ask; an absent service is not checked.
    struct Services {
        MainActor& mainActor;
        CloudContainer* cloudContainer = nullptr;
        CloudDatabase* database = nullptr;
        SyncKeyCache& syncKeys;
        RemoteNotifications& remoteNotifications;
        CredentialIdentities* credentialIdentities = nullptr;
        Notifier* notifier = nullptr;
        QTimeZone timeZone;
    };

    ReadinessChecks(Services services, MacSettings& settings, ReadinessState& state,
                    OnChangeLogger& routineLog);

    // Runs every check once; true when a row then needs the user.
    Task<bool> run();

private:
    Task<void> checkAccount();
    Task<void> checkKeychain();
    Task<void> ensureSubscription();

    Services services_;
    MacSettings& settings_;
    ReadinessState& state_;
    OnChangeLogger& routineLog_;
};
