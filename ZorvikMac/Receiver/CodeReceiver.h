// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimeZone>
#include <QVariantMap>
#include <functional>
#include <optional>

#include "ZorvikMac/CodeIntake/SyncKeyCache.h"
#include "ZorvikMac/CodeIntake/SyncKeyState.h"
#include "ZorvikMac/Readiness/DiagnosticsInfo.h"
#include "ZorvikMac/Readiness/ReadinessState.h"
#include "ZorvikMac/Readiness/SetupProbe.h"
#include "ZorvikMac/Receiver/FetchSchedule.h"
#include "ZorvikMac/Receiver/ReadinessChecks.h"
#include "platform/BundleInfo.h"
#include "platform/Logger.h"
#include "platform/OnChangeLogger.h"
#include "platform/Task.h"
#include "platform/Workspace.h"
#include "shared/LatestCode.h"
#include "shared/LatestCodeStore.h"

class ClipboardPublisher;
class CloudContainer;
class CloudDatabase;
class CredentialIdentities;
class Keychain;
class MacSettings;
class MainActor;
class Notifier;
class RemoteNotifications;
class UserDefaults;
struct PendingCode;

// The heart of the application: fetches the pending-code record from the cloud, opens it, and
// publishes a new valid code to the shared file, the clipboard, the notification centre and
// the credential identities. The readiness probe and the diagnostics snapshot it keeps are a
// ReadinessState, its checks a ReadinessChecks, and when it fetches (pushes, polling, wake) and
// re-runs the checks a FetchSchedule.
//
// Everything runs on the main actor. One instance lives for the whole process; its tasks hold
// it weakly.
class CodeReceiver : public QObject {
    Q_OBJECT

public:
    static constexpr auto recordName = "pending-code";
    static constexpr auto subscriptionID = "pending-code-changes";
    static constexpr auto recordType = "PendingCode";

    // The platform services the receiver works with.
    struct Services {
        MainActor& mainActor;
        SystemLog& systemLog;
        Keychain& keychain;
        // Absent for a preview, which has no cloud.
        CloudContainer* cloudContainer = nullptr;
        RemoteNotifications& remoteNotifications;
        Workspace& workspace;
        ClipboardPublisher& clipboard;
        Notifier* notifier = nullptr;
        CredentialIdentities* credentialIdentities = nullptr;
        BundleInfo bundle;
        // The user's time zone, for the day of the last code in the checklist.
        QTimeZone timeZone = QTimeZone::systemTimeZone();
    };

    CodeReceiver(MacSettings& settings, std::optional<LatestCodeStore> store, bool isPreview,
                 UserDefaults& defaults, Services services, QObject* parent = nullptr);

    // Observed state; each has a ...Changed signal sent only when the value differs.
    const std::optional<LatestCode>& latest() const { return latest_; }
    const SetupProbe& probe() const { return state_.probe(); }
    const DiagnosticsInfo& info() const { return state_.info(); }
    const std::optional<Instant>& justCopiedAt() const { return justCopiedAt_; }
    // Where codes are published; absent without a group container.
    const std::optional<LatestCodeStore>& store() const { return store_; }
    bool firstRun() const { return firstRun_; }
    void setFirstRun(bool firstRun);
    // The user-defaults store it was made with.
    UserDefaults& userDefaults() const { return defaults_; }

    std::optional<bool> lastNeedsAttention() const { return state_.lastNeedsAttention(); }
    bool isPreview() const { return isPreview_; }
    bool isFetching() const { return fetching_; }
    bool isChecking() const { return checking_; }
    bool isAwake() const { return schedule_.isAwake(); }
    bool isPopoverVisible() const { return schedule_.isPopoverVisible(); }
    const TaskHandle& expiryTask() const { return expiryTask_; }
    const TaskHandle& idlePollTask() const { return schedule_.idlePollTask(); }
    const TaskHandle& pollTask() const { return schedule_.pollTask(); }
    const TaskHandle& recheckTask() const { return schedule_.recheckTask(); }
    const QList<Workspace::ObserverToken>& wakeObservers() const {
        return schedule_.wakeObservers();
    }

    // Called at every setLatest and expireLatest, once `latest` holds the new value and before
    // latestChanged is emitted: the tray item before the views.
    std::function<void()> onLatestChange;

    // Restores a still-valid stored code, then (unless a preview) runs the checks and one
    // fetch, starts background polling and follows sleep and wake.
    void start();
    // Fetches the record; fetches asked for while one runs become one more after it.
    Task<void> fetch();
    // Runs the readiness checks; a run asked for while one runs is dropped.
    Task<void> runChecks();
    // Copies the held code again while it is valid, and notes when.
    void copyLatest();
    // The diagnostics report as of now, with the poll interval currently set.
    QString diagnosticsSnapshot() const;
    // Puts the report on the clipboard as plain text (not concealed: it holds no secret).
    void copyDiagnostics();
    // Asks the keyring to unlock (it may show its password prompt), then checks and fetches
    // again, so codes flow without a restart.
    void unlockKeychain();

    void setPopoverVisible(bool visible);
    void setPushRegistration(bool success, std::optional<QString> error);
    void handleRemoteNotification(const QVariantMap& userInfo);
    void setLayoutNote(const QString& note);

    void setLatest(std::optional<LatestCode> code);
    void expireLatest();

Q_SIGNALS:
    void latestChanged();
    void probeChanged();
    void infoChanged();
    void justCopiedAtChanged();
    void firstRunChanged(bool firstRun);

private:
    // One fetch: the record read, opened and its code delivered, the outcome noted.
    Task<void> fetchRecordAndDeliver();
    void deliver(const PendingCode& code, Instant now);
    // Writes the code to the file AutoFill reads; when that fails, no file is left offering
    // another code, and the failure shows in the log and the diagnostics until a save works.
    void saveForAutoFill(const LatestCode& latest);
    // Notes how far apart the clocks are by a code issued at `issuedAt` (the phone's clock),
    // fetched at `now`, in a record written after `writtenAfter` (ours) when that is known.
    void judgeClock(Instant issuedAt, std::optional<Instant> writtenAfter, Instant now);
    // The same for a record's code; a record that cannot be opened tells nothing.
    Task<void> judgeClockBy(QByteArray blob, Instant writtenAfter, Instant now);
    static Task<void> unlockThenFetch(QPointer<CodeReceiver> receiver);
    static Task<void> checkAfterKeyChange(QPointer<CodeReceiver> receiver, MainActor& mainActor,
                                          double wait);

    void setLatestValue(std::optional<LatestCode> code);
    void setJustCopiedAt(std::optional<Instant> at);

    MacSettings& settings_;
    std::optional<LatestCodeStore> store_;
    bool isPreview_;
    UserDefaults& defaults_;
    Services services_;
    Logger log_;
    // Routine lines (each fetch, each check) go here, so a state that holds is logged once.
    OnChangeLogger routineLog_{log_};
    CloudDatabase* database_;
    SyncKeyCache syncKeys_{services_.keychain, services_.mainActor};
    ReadinessState state_;
    ReadinessChecks checks_;
    FetchSchedule schedule_;

    std::optional<LatestCode> latest_;
    std::optional<Instant> justCopiedAt_;
    bool firstRun_ = true;

    TaskHandle expiryTask_;
    bool fetching_ = false;
    bool fetchAgain_ = false;
    // The checks a change of the keyring asked for: one at a time, at most every 15 s.
    static constexpr double keyCheckSpacing = 15;
    bool keyCheckPending_ = false;
    std::optional<Instant> keyCheckedAt_;
    bool storeFailed_ = false;
    // What the last fetch that reached the cloud found (an empty blob: no record), and when.
    struct SeenRecord {
        QByteArray blob;
        Instant at;
    };
    std::optional<SeenRecord> lastFetch_;
    bool checking_ = false;
};
