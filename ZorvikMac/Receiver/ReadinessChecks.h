// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
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
struct SetupProbe;
struct SetupRow;
class SyncKeyCache;

// What one run of the checks found.
struct ChecksOutcome {
    // A row other than the login item and the first code is pending or failed.
    bool needsAttention = false;
    // Among those, a row that may mend without the user: the cloud's while its account is being
    // checked, errs or is unavailable for now; the push's while the account is signed in. Never
    // while an account is signed out, restricted or waits for the user to confirm it.
    bool mayMendItself = false;
};

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

    // Runs every check once.
    Task<ChecksOutcome> run();

private:
    static bool mayMendItself(const SetupProbe& probe, const QList<SetupRow>& rows);
    Task<void> checkAccount();
    Task<void> checkKeychain();
    Task<void> ensureSubscription();

    Services services_;
    MacSettings& settings_;
    ReadinessState& state_;
    OnChangeLogger& routineLog_;
};
