#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimeZone>
#include <QVariantMap>
#include <functional>
#include <optional>

#include "BundleInfo.h"
#include "DiagnosticsInfo.h"
#include "LatestCode.h"
#include "LatestCodeStore.h"
#include "Logger.h"
#include "OnChangeLogger.h"
#include "SetupProbe.h"
#include "SyncKeyCache.h"
#include "SyncKeyState.h"
#include "Task.h"
#include "Workspace.h"

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
// the credential identities; keeps the readiness probe and the diagnostics snapshot; and
// decides when to fetch (start, pushes, polling, wake) and when to re-run the checks.
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
    const SetupProbe& probe() const { return probe_; }
    const DiagnosticsInfo& info() const { return info_; }
    const std::optional<Instant>& justCopiedAt() const { return justCopiedAt_; }
    // Where codes are published; absent without a group container.
    const std::optional<LatestCodeStore>& store() const { return store_; }
    bool firstRun() const { return firstRun_; }
    void setFirstRun(bool firstRun);
    // The user-defaults store it was made with.
    UserDefaults& userDefaults() const { return defaults_; }

    std::optional<bool> lastNeedsAttention() const { return lastNeedsAttention_; }
    bool isPreview() const { return isPreview_; }
    bool isFetching() const { return fetching_; }
    bool isChecking() const { return checking_; }
    bool isAwake() const { return awake_; }
    bool isPopoverVisible() const { return popoverVisible_; }
    const TaskHandle& expiryTask() const { return expiryTask_; }
    const TaskHandle& idlePollTask() const { return idlePollTask_; }
    const TaskHandle& pollTask() const { return pollTask_; }
    const TaskHandle& recheckTask() const { return recheckTask_; }
    const QList<Workspace::ObserverToken>& wakeObservers() const { return wakeObservers_; }

    // Called after every change of `latest` made by setLatest or expireLatest.
    std::function<void()> onLatestChange;

    // Restores a still-valid stored code, then (unless a preview) runs the checks and one
    // fetch, starts background polling and follows sleep and wake.
    void start();
    // Fetches the record once; a fetch asked for while one runs is dropped.
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
    void deliver(const PendingCode& code, Instant now);
    // Writes the code to the file AutoFill reads; when that fails, no file is left offering
    // another code, and the failure shows in the log and the diagnostics until a save works.
    void saveForAutoFill(const LatestCode& latest);
    // Notes how far this computer's clock is ahead of the phone's (negative: behind): told in
    // the log and the checklist once it is more than a minute, until it is no more.
    void noteClockOffset(double secondsAhead);
    // Notes how far apart the clocks are by a code issued at `issuedAt` (the phone's clock),
    // fetched at `now`, in a record written after `writtenAfter` (ours) when that is known.
    void judgeClock(Instant issuedAt, std::optional<Instant> writtenAfter, Instant now);
    // The same for a record's code; a record that cannot be opened tells nothing.
    Task<void> judgeClockBy(QByteArray blob, Instant writtenAfter, Instant now);
    Task<void> checkAccount();
    Task<void> checkKeychain();
    // The sync key's state after a read of the keychain; one log line when the keyring becomes
    // locked or unlocked, none while it stays so.
    void noteSyncKey(const SyncKeyState& state);
    static Task<void> unlockThenFetch(QPointer<CodeReceiver> receiver);
    Task<void> ensureSubscription();
    void scheduleRecheck(bool needs);
    void updateAttention();
    void startIdlePolling();
    void installWakeObservers();

    // Changes the probe or the snapshot through `change`; observers hear of a real change only.
    void changeProbe(const std::function<void(SetupProbe&)>& change);
    void changeInfo(const std::function<void(DiagnosticsInfo&)>& change);
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
    CloudDatabase* database_ = nullptr;
    SyncKeyCache syncKeys_{services_.keychain, services_.mainActor};

    std::optional<LatestCode> latest_;
    SetupProbe probe_;
    std::optional<bool> lastNeedsAttention_;
    DiagnosticsInfo info_;
    std::optional<Instant> justCopiedAt_;
    bool firstRun_ = true;

    TaskHandle pollTask_;
    TaskHandle idlePollTask_;
    bool popoverVisible_ = false;
    bool awake_ = true;
    QList<Workspace::ObserverToken> wakeObservers_;
    TaskHandle recheckTask_;
    TaskHandle expiryTask_;
    bool fetching_ = false;
    bool storeFailed_ = false;
    // What the last fetch that reached the cloud found (an empty blob: no record), and when.
    struct SeenRecord {
        QByteArray blob;
        Instant at;
    };
    std::optional<SeenRecord> lastFetch_;
    bool checking_ = false;
};
