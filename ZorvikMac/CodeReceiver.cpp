#include "CodeReceiver.h"

#include <QPointer>
#include <algorithm>
#include <cmath>

#include "ClipboardPublisher.h"
#include "CloudContainer.h"
#include "CloudSyncCrypto.h"
#include "Completion.h"
#include "CredentialIdentities.h"
#include "DiagnosticsReport.h"
#include "ErrorText.h"
#include "Keychain.h"
#include "MacSettings.h"
#include "MainActor.h"
#include "Notifier.h"
#include "PendingCode.h"
#include "RemoteNotifications.h"
#include "SetupRow.h"
#include "UserDefaults.h"

namespace {

const QString kFirstRunDone = QStringLiteral("firstRunDone");
const QString kLastReceivedAt = QStringLiteral("lastReceivedAt");
const QString kLastReceivedName = QStringLiteral("lastReceivedName");

// Cleared when the code it was armed for expires, unless a newer code replaced it meanwhile.
Task<void> expireWhenDue(QPointer<CodeReceiver> receiver, MainActor& mainActor, LatestCode code) {
    co_await mainActor.sleep(std::max(0.0, secondsBetween(mainActor.now(), code.expiresAt)));
    const bool cancelled = co_await isCancelled();
    if (cancelled || !receiver) {
        co_return;
    }
    if (receiver->latest() == code) {
        receiver->expireLatest();
    }
}

// Fetches every 20 seconds while the popover is open, after one run of the checks.
Task<void> pollWhileOpen(QPointer<CodeReceiver> receiver, MainActor& mainActor) {
    if (!receiver) {
        co_return;
    }
    co_await receiver->runChecks();
    // Every await here stands on its own: g++ 12 at -O2 miscompiles one inside a condition.
    for (;;) {
        const bool cancelled = co_await isCancelled();
        if (!receiver || cancelled) {
            co_return;
        }
        co_await receiver->fetch();
        co_await mainActor.sleep(20);
    }
}

// Fetches every poll interval (at least a second) while awake and the popover is closed.
Task<void> pollInTheBackground(QPointer<CodeReceiver> receiver, MainActor& mainActor,
                               MacSettings& settings) {
    for (;;) {
        const bool cancelled = co_await isCancelled();
        if (!receiver || cancelled) {
            co_return;
        }
        co_await mainActor.sleep(std::max(settings.pollInterval(), 1.0));
        if (!receiver) {
            co_return;
        }
        if (receiver->isAwake() && !receiver->isPopoverVisible()) {
            co_await receiver->fetch();
        }
    }
}

Task<void> runChecksLater(QPointer<CodeReceiver> receiver, MainActor& mainActor) {
    co_await mainActor.sleep(15);
    const bool cancelled = co_await isCancelled();
    if (cancelled || !receiver) {
        co_return;
    }
    co_await receiver->runChecks();
}

Task<void> checkThenFetch(QPointer<CodeReceiver> receiver) {
    if (!receiver) {
        co_return;
    }
    co_await receiver->runChecks();
    if (receiver) {
        co_await receiver->fetch();
    }
}

Task<void> fetchOnce(QPointer<CodeReceiver> receiver) {
    if (receiver) {
        co_await receiver->fetch();
    }
}

// Identity-store work nobody waits for; its errors are dropped.
Task<void> registerIdentities(CredentialIdentities& identities, LatestCode code) {
    co_await identities.registerCode(std::move(code));
}

Task<void> removeIdentities(CredentialIdentities& identities) {
    co_await identities.removeAll();
}

Task<CloudRecord> fetchRecord(MainActor& mainActor, CloudDatabase& database, const QString& name) {
    auto answer = co_await waitForCompletion<std::variant<CloudRecord, CloudError>>(
        mainActor, [&](CompletionHandler<std::variant<CloudRecord, CloudError>> done) {
            database.fetchRecord(name, [done](std::variant<CloudRecord, CloudError> result) {
                done.resume(std::move(result));
            });
        });
    if (auto* error = std::get_if<CloudError>(&answer)) {
        throw *error;
    }
    co_return std::get<CloudRecord>(std::move(answer));
}

// What a failed read of the sync key means for the checklist's row.
SyncKeyState syncKeyStateFor(const CloudSyncCrypto::Error& error) {
    if (error.kind() == CloudSyncCrypto::Error::Kind::noKeyYet) {
        return {SyncKeyState::Kind::waiting, {}};
    }
    if (error.status() == Keychain::interactionNotAllowed) {
        return {SyncKeyState::Kind::locked, {}};
    }
    return SyncKeyState::error(Keychain::describe(error.status()));
}

QString orQuestionMark(const std::optional<QString>& text) {
    return text.value_or(QStringLiteral("?"));
}

}  // namespace

CodeReceiver::CodeReceiver(MacSettings& settings, std::optional<LatestCodeStore> store,
                           bool isPreview, UserDefaults& defaults, Services services,
                           QObject* parent)
    : QObject(parent),
      settings_(settings),
      store_(std::move(store)),
      isPreview_(isPreview),
      defaults_(defaults),
      services_(std::move(services)),
      log_(services_.systemLog, QStringLiteral("net.brontal.zorvik"), QStringLiteral("mac")) {
    firstRun_ = !defaults_.boolForKey(kFirstRunDone);
    // A fresh probe needs attention, so the first change unfolds the checklist.
    changeProbe([&](SetupProbe& probe) { probe.launchAtLogin = settings_.launchAtLogin(); });
    changeProbe(
        [&](SetupProbe& probe) { probe.lastReceivedAt = defaults_.dateForKey(kLastReceivedAt); });
    changeProbe([&](SetupProbe& probe) {
        probe.lastReceivedName = defaults_.stringForKey(kLastReceivedName);
    });
    if (lastNeedsAttention_ == std::nullopt) {
        updateAttention();
    }
    // The row's switch changes the setting; its title should not wait for the next checks.
    connect(&settings_, &MacSettings::launchAtLoginChanged, this, [this](bool value) {
        changeProbe([value](SetupProbe& probe) { probe.launchAtLogin = value; });
    });
    if (!isPreview_ && services_.cloudContainer != nullptr) {
        database_ = &services_.cloudContainer->privateCloudDatabase();
    }
    changeInfo([&](DiagnosticsInfo& info) {
        info.appVersion = services_.bundle.shortVersion.value_or(QStringLiteral("?"));
        info.build = services_.bundle.build.value_or(QStringLiteral("?"));
        info.macOSVersion = services_.bundle.systemVersion;
    });
}

void CodeReceiver::setFirstRun(bool firstRun) {
    if (firstRun_ != firstRun) {
        firstRun_ = firstRun;
        Q_EMIT firstRunChanged(firstRun);
    }
}

void CodeReceiver::changeProbe(const std::function<void(SetupProbe&)>& change) {
    SetupProbe changed = probe_;
    change(changed);
    if (changed == probe_) {
        return;
    }
    probe_ = std::move(changed);
    Q_EMIT probeChanged();
    updateAttention();
}

void CodeReceiver::changeInfo(const std::function<void(DiagnosticsInfo&)>& change) {
    DiagnosticsInfo changed = info_;
    change(changed);
    if (changed == info_) {
        return;
    }
    info_ = std::move(changed);
    Q_EMIT infoChanged();
}

void CodeReceiver::setLatestValue(std::optional<LatestCode> code) {
    if (latest_ == code) {
        return;
    }
    latest_ = std::move(code);
    Q_EMIT latestChanged();
}

void CodeReceiver::setJustCopiedAt(std::optional<Instant> at) {
    if (justCopiedAt_ == at) {
        return;
    }
    justCopiedAt_ = at;
    Q_EMIT justCopiedAtChanged();
}

// MARK: Fetching and publishing

Task<void> CodeReceiver::fetch() {
    if (database_ == nullptr || fetching_) {
        co_return;
    }
    fetching_ = true;
    MainActor& mainActor = services_.mainActor;
    const Instant now = mainActor.now();
    std::exception_ptr failure;
    try {
        const CloudRecord record =
            co_await fetchRecord(mainActor, *database_, QString::fromLatin1(recordName));
        const auto expiresAt = record.field<Instant>(QStringLiteral("expiresAt"));
        const auto blob = record.field<QByteArray>(QStringLiteral("blob"));
        // A record that changed since the last fetch was written after it, so its code's issue
        // time tells how far the phone's clock and ours are apart. An expired one is opened too:
        // a clock far ahead of the phone's makes every new code look expired.
        const std::optional<Instant> writtenAfter = blob && lastFetch_ && *blob != lastFetch_->blob
                                                        ? std::optional(lastFetch_->at)
                                                        : std::nullopt;
        lastFetch_ = SeenRecord{blob.value_or(QByteArray()), now};
        if (expiresAt && *expiresAt <= now) {
            if (writtenAfter) {
                co_await judgeClockBy(*blob, *writtenAfter, now);
            }
            changeInfo(
                [](DiagnosticsInfo& info) { info.lastFetchResult = "record present but expired"; });
            routineLog_.write(LogLevel::debug, QStringLiteral("fetch step"),
                              "fetch: expired record");
        } else if (!blob) {
            changeInfo([](DiagnosticsInfo& info) { info.lastFetchResult = "record without blob"; });
        } else {
            const SymmetricKey key = co_await syncKeys_.load();
            noteSyncKey({SyncKeyState::Kind::received, {}});
            const PendingCode code = PendingCode::open(*blob, key);
            judgeClock(code.issuedAt, writtenAfter, now);
            if (now < code.expiresAt && !code.code.isEmpty()) {
                changeInfo([&](DiagnosticsInfo& info) {
                    info.lastFetchResult =
                        "code for " + code.accountName + " from " + code.fromDevice;
                });
                routineLog_.write(LogLevel::debug, QStringLiteral("fetch step"),
                                  "fetch: valid code for %{public}s from %{public}s",
                                  code.accountName, code.fromDevice);
                deliver(code, now);
            } else {
                changeInfo([](DiagnosticsInfo& info) { info.lastFetchResult = "code expired"; });
            }
        }
    } catch (const CloudError& error) {
        if (error.code() == CloudError::unknownItem) {
            lastFetch_ = SeenRecord{QByteArray(), now};
            changeInfo([](DiagnosticsInfo& info) { info.lastFetchResult = "nothing pending"; });
        } else {
            failure = std::current_exception();
        }
    } catch (const CloudSyncCrypto::Error& error) {
        const SyncKeyState state = syncKeyStateFor(error);
        if (state.kind == SyncKeyState::Kind::waiting) {
            noteSyncKey(state);
            changeInfo([](DiagnosticsInfo& info) {
                info.lastFetchResult = "record present, no sync key yet";
            });
            routineLog_.write(LogLevel::debug, QStringLiteral("fetch step"),
                              "fetch: record present but no sync key");
        } else if (state.kind == SyncKeyState::Kind::locked) {
            // Not a failure of this fetch: the codes wait for the user to unlock the keyring.
            noteSyncKey(state);
            changeInfo([](DiagnosticsInfo& info) {
                info.lastFetchResult = "record present, keyring locked";
            });
        } else {
            failure = std::current_exception();
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        const QString text = errorText(failure);
        changeInfo([&](DiagnosticsInfo& info) {
            info.lastFetchResult = "error: " + text;
            info.lastError = text;
        });
        // A failure that repeats at every poll (no network) is one line until it changes.
        routineLog_.write(LogLevel::error, QStringLiteral("fetch failure"),
                          "fetch failed: %{public}s", text);
    } else {
        routineLog_.forget(QStringLiteral("fetch failure"));
    }
    fetching_ = false;
    changeInfo([&](DiagnosticsInfo& info) { info.lastFetchAt = mainActor.now(); });
    routineLog_.write(LogLevel::debug, QStringLiteral("fetch result"), "fetch: %{public}s",
                      orQuestionMark(info_.lastFetchResult));
}

void CodeReceiver::deliver(const PendingCode& code, Instant now) {
    if (latest_ && latest_->issuedAt == code.issuedAt && latest_->code == code.code) {
        // A save that failed is tried again at every fetch while the code is valid.
        if (storeFailed_) {
            saveForAutoFill(*latest_);
        }
        return;
    }
    // Never held longer than the code's own lifetime, whatever this computer's clock says.
    const Instant heldUntil =
        std::min(code.expiresAt,
                 addingSeconds(now, std::max(0.0, secondsBetween(code.issuedAt, code.expiresAt))));
    const LatestCode latest{code.accountName, code.serviceID, code.code,
                            code.fromDevice,  code.issuedAt,  now,
                            heldUntil};
    saveForAutoFill(latest);
    setLatest(latest);
    changeProbe([&](SetupProbe& probe) {
        probe.lastReceivedAt = now;
        probe.lastReceivedName = code.accountName;
    });
    defaults_.setDate(now, kLastReceivedAt);
    defaults_.setString(code.accountName, kLastReceivedName);
    if (firstRun_) {
        setFirstRun(false);
        defaults_.setBool(true, kFirstRunDone);
    }
    const double secondsLeft = secondsBetween(now, heldUntil);
    if (settings_.copyToClipboard()) {
        services_.clipboard.copyToPasteboard(code.code, secondsLeft);
    }
    if (settings_.notify() && !isPreview_ && services_.notifier != nullptr) {
        services_.notifier->post(latest);
    }
    if (!isPreview_ && services_.credentialIdentities != nullptr) {
        services_.mainActor.spawn(registerIdentities(*services_.credentialIdentities, latest));
    }
    log_.info("received %{public}s from %{public}s, expires in %lds", code.accountName,
              code.fromDevice, static_cast<long>(secondsLeft));
}

namespace {
// How far apart the phone's clock and ours may be before the user hears of it: a code's trip
// through the cloud takes seconds, and clocks set automatically agree far better than this.
constexpr double kClockTolerance = 60;
}  // namespace

Task<void> CodeReceiver::judgeClockBy(QByteArray blob, Instant writtenAfter, Instant now) {
    try {
        const SymmetricKey key = co_await syncKeys_.load();
        judgeClock(PendingCode::open(blob, key).issuedAt, writtenAfter, now);
    } catch (...) {
        // Only a hint about the clock: the record's outcome is told as for any expired one.
    }
}

void CodeReceiver::judgeClock(Instant issuedAt, std::optional<Instant> writtenAfter, Instant now) {
    if (issuedAt > now) {
        // Issued in our future: never a stale record, the clocks disagree.
        noteClockOffset(secondsBetween(issuedAt, now));
    } else if (writtenAfter) {
        // Issued long before the fetch that still did not see it: our clock is ahead by at least
        // that much. A record written while the computer slept or was offline says nothing.
        noteClockOffset(std::max(0.0, secondsBetween(issuedAt, *writtenAfter)));
    }
}

void CodeReceiver::noteClockOffset(double secondsAhead) {
    const std::optional<double> offset =
        std::abs(secondsAhead) > kClockTolerance ? std::optional(secondsAhead) : std::nullopt;
    if (offset.has_value() == probe_.clockOffset.has_value()) {
        if (offset) {
            changeProbe([&](SetupProbe& probe) { probe.clockOffset = offset; });
        }
        return;
    }
    changeProbe([&](SetupProbe& probe) { probe.clockOffset = offset; });
    if (offset) {
        log_.error("%{public}s", clockOffsetText(*offset));
    } else {
        log_.info("this computer's clock agrees with the phone's again");
    }
}

namespace {
constexpr auto saveFailure = "could not save the code for AutoFill: ";
}  // namespace

void CodeReceiver::saveForAutoFill(const LatestCode& latest) {
    if (!store_) {
        return;
    }
    try {
        store_->save(latest);
        if (storeFailed_) {
            storeFailed_ = false;
            routineLog_.forget(QStringLiteral("save failure"));
            log_.info("the code is saved for AutoFill again");
            changeInfo([](DiagnosticsInfo& info) {
                if (info.lastError && info.lastError->startsWith(QLatin1String(saveFailure))) {
                    info.lastError.reset();
                }
            });
        }
    } catch (const Error& error) {
        // The code is still published everywhere else, but AutoFill must not go on offering
        // the code this one replaces.
        store_->clear();
        storeFailed_ = true;
        const QString text = QLatin1String(saveFailure) + error.localizedDescription();
        // Tried again at every fetch: one line until the cause changes.
        routineLog_.write(LogLevel::error, QStringLiteral("save failure"), "%{public}s", text);
        changeInfo([&](DiagnosticsInfo& info) { info.lastError = text; });
    }
}

void CodeReceiver::setLatest(std::optional<LatestCode> code) {
    setLatestValue(code);
    if (onLatestChange) {
        onLatestChange();
    }
    expiryTask_.cancel();
    if (code) {
        expiryTask_ = services_.mainActor.spawn(
            expireWhenDue(QPointer<CodeReceiver>(this), services_.mainActor, *code));
    }
}

void CodeReceiver::expireLatest() {
    setLatestValue(std::nullopt);
    setJustCopiedAt(std::nullopt);
    if (store_) {
        store_->clear();
    }
    if (onLatestChange) {
        onLatestChange();
    }
    log_.info("code expired");
    if (!isPreview_ && services_.credentialIdentities != nullptr) {
        services_.mainActor.spawn(removeIdentities(*services_.credentialIdentities));
    }
}

void CodeReceiver::copyLatest() {
    const Instant now = services_.mainActor.now();
    if (!latest_ || !(now < latest_->expiresAt) || latest_->code.isEmpty()) {
        return;
    }
    services_.clipboard.copyToPasteboard(latest_->code, secondsBetween(now, latest_->expiresAt));
    setJustCopiedAt(services_.mainActor.now());
}

QString CodeReceiver::diagnosticsSnapshot() const {
    DiagnosticsInfo snapshot = info_;
    snapshot.pollInterval = settings_.pollInterval();
    return diagnosticsText(probe_, snapshot, services_.mainActor.now(), services_.timeZone);
}

void CodeReceiver::copyDiagnostics() {
    services_.clipboard.copyPlainText(diagnosticsSnapshot());
    log_.info("diagnostics copied");
}

// MARK: Start, checks and polling

void CodeReceiver::start() {
    if (store_) {
        if (auto stored = store_->load(); stored && stored->isValid(services_.mainActor.now())) {
            setLatest(std::move(stored));
        }
    }
    if (isPreview_) {
        return;
    }
    log_.info("start: version %{public}s (%{public}s) on %{public}s firstRun=%{bool}d",
              info_.appVersion, info_.build, info_.macOSVersion, firstRun_);
    services_.mainActor.spawn(checkThenFetch(QPointer<CodeReceiver>(this)));
    startIdlePolling();
    installWakeObservers();
}

Task<void> CodeReceiver::runChecks() {
    if (isPreview_ || checking_) {
        co_return;
    }
    checking_ = true;
    co_await checkAccount();
    co_await checkKeychain();
    if (services_.remoteNotifications.isRegisteredForRemoteNotifications()) {
        changeProbe([](SetupProbe& probe) { probe.pushRegistered = true; });
    }
    co_await ensureSubscription();
    if (services_.credentialIdentities != nullptr) {
        const bool enabled = co_await services_.credentialIdentities->isAutoFillEnabled();
        changeProbe([&](SetupProbe& probe) { probe.autoFillEnabled = enabled; });
    }
    if (services_.notifier != nullptr) {
        const NotificationState state = co_await services_.notifier->notificationState();
        changeProbe([&](SetupProbe& probe) { probe.notifications = state; });
    }
    settings_.refreshLaunchAtLogin();
    changeProbe([&](SetupProbe& probe) { probe.launchAtLogin = settings_.launchAtLogin(); });
    const Instant now = services_.mainActor.now();
    changeInfo([&](DiagnosticsInfo& info) { info.checkedAt = now; });
    const QList<SetupRow> rows = setupRows(probe_, now, services_.timeZone);
    for (const SetupRow& row : rows) {
        routineLog_.write(LogLevel::debug, QStringLiteral("check ") + rawValue(row.kind),
                          "check %{public}s: %{public}s \u2014 %{public}s", rawValue(row.kind),
                          caseName(row.state), row.title);
    }
    scheduleRecheck(needsAttention(rows));
    checking_ = false;
}

Task<void> CodeReceiver::checkAccount() {
    if (services_.cloudContainer == nullptr) {
        co_return;
    }
    CloudContainer& container = *services_.cloudContainer;
    const auto answer = co_await waitForCompletion<std::variant<int, CloudError>>(
        services_.mainActor, [&container](CompletionHandler<std::variant<int, CloudError>> done) {
            container.accountStatus(
                [done](std::variant<int, CloudError> status) { done.resume(std::move(status)); });
        });
    CloudAccountState state;
    if (const auto* error = std::get_if<CloudError>(&answer)) {
        state = CloudAccountState::error(error->localizedDescription());
    } else {
        switch (std::get<int>(answer)) {
            case CloudContainer::couldNotDetermine:
                state = CloudAccountState::error("could not determine the account state");
                break;
            case CloudContainer::available:
                state = {CloudAccountState::Kind::signedIn, {}};
                break;
            case CloudContainer::restricted:
                state = {CloudAccountState::Kind::restricted, {}};
                break;
            case CloudContainer::noAccount:
                state = {CloudAccountState::Kind::notSignedIn, {}};
                break;
            case CloudContainer::temporarilyUnavailable:
                state = {CloudAccountState::Kind::temporarilyUnavailable, {}};
                break;
            default:
                state = CloudAccountState::error("unknown account state");
        }
    }
    const CloudBackendInfo backend = container.backendInfo();
    changeProbe([&](SetupProbe& probe) {
        probe.cloud = state;
        probe.cloudBackend = backend;
    });
    // A cloud that tells its time is the better judge of this computer's clock.
    if (backend.clockAhead) {
        noteClockOffset(*backend.clockAhead);
    }
}

Task<void> CodeReceiver::checkKeychain() {
    SyncKeyState state;
    try {
        co_await syncKeys_.load();
        state = {SyncKeyState::Kind::received, {}};
    } catch (const CloudSyncCrypto::Error& error) {
        state = syncKeyStateFor(error);
    } catch (const Error& error) {
        state = SyncKeyState::error(error.localizedDescription());
    }
    noteSyncKey(state);
}

void CodeReceiver::noteSyncKey(const SyncKeyState& state) {
    const SyncKeyState was = probe_.syncKey;
    const bool wasLocked = was.kind == SyncKeyState::Kind::locked;
    const bool locked = state.kind == SyncKeyState::Kind::locked;
    changeProbe([&](SetupProbe& probe) { probe.syncKey = state; });
    if (locked && !wasLocked) {
        log_.info("keyring locked: codes wait until it is unlocked");
    } else if (wasLocked && !locked) {
        log_.info("keyring unlocked");
    }
    const bool failing = state.kind == SyncKeyState::Kind::error;
    const bool wasFailing = was.kind == SyncKeyState::Kind::error;
    if (failing && state != was) {
        log_.error("keyring: %{public}s", state.message);
    } else if (wasFailing && !failing && state.kind != SyncKeyState::Kind::checking) {
        log_.info("keyring: answers again");
    }
}

void CodeReceiver::unlockKeychain() {
    services_.mainActor.spawn(unlockThenFetch(QPointer<CodeReceiver>(this)));
}

// The keyring's answer may take as long as the user spends on its password prompt.
Task<void> CodeReceiver::unlockThenFetch(QPointer<CodeReceiver> receiver) {
    if (!receiver) {
        co_return;
    }
    Keychain& keychain = receiver->services_.keychain;
    const std::int32_t status = co_await waitForCompletion<std::int32_t>(
        receiver->services_.mainActor, [&keychain](CompletionHandler<std::int32_t> done) {
            keychain.unlock(CloudSyncCrypto::syncKeyQuery(),
                            [done](std::int32_t answer) mutable { done.resume(answer); });
        });
    if (!receiver) {
        co_return;
    }
    if (status == Keychain::userCanceled) {
        receiver->log_.info("keyring: unlocking cancelled");
    } else if (status != Keychain::success) {
        receiver->log_.error("keyring: cannot unlock: %{public}s", Keychain::describe(status));
    }
    co_await receiver->runChecks();
    if (receiver) {
        co_await receiver->fetch();
    }
}

Task<void> CodeReceiver::ensureSubscription() {
    if (database_ == nullptr) {
        co_return;
    }
    CloudDatabase& database = *database_;
    QuerySubscription subscription;
    subscription.subscriptionID = QString::fromLatin1(subscriptionID);
    subscription.recordType = QString::fromLatin1(recordType);
    subscription.firesOn = QuerySubscription::onRecordCreation | QuerySubscription::onRecordUpdate;
    subscription.shouldSendContentAvailable = true;
    const auto failure = co_await waitForCompletion<std::optional<CloudError>>(
        services_.mainActor, [&](CompletionHandler<std::optional<CloudError>> done) {
            database.saveSubscription(subscription, [done](std::optional<CloudError> error) {
                done.resume(std::move(error));
            });
        });
    if (!failure) {
        changeProbe([](SetupProbe& probe) {
            probe.subscriptionSaved = true;
            probe.subscriptionError.reset();
        });
        routineLog_.write(LogLevel::info, QStringLiteral("subscription"), "subscription saved");
        co_return;
    }
    const QString text = errorText(std::make_exception_ptr(*failure));
    changeProbe([&](SetupProbe& probe) {
        probe.subscriptionSaved = false;
        probe.subscriptionError = text;
    });
    changeInfo([&](DiagnosticsInfo& info) { info.lastError = "Subscription: " + text; });
    routineLog_.write(LogLevel::error, QStringLiteral("subscription"),
                      "subscription failed: %{public}s", text);
}

void CodeReceiver::scheduleRecheck(bool needs) {
    recheckTask_.cancel();
    recheckTask_ = TaskHandle();
    if (needs) {
        recheckTask_ = services_.mainActor.spawn(
            runChecksLater(QPointer<CodeReceiver>(this), services_.mainActor));
    }
}

void CodeReceiver::updateAttention() {
    const bool needs =
        needsAttention(setupRows(probe_, services_.mainActor.now(), services_.timeZone));
    if (lastNeedsAttention_ != needs) {
        // An equal result leaves the setting alone, so the user's own folding survives.
        settings_.setSetupCollapsed(!needs);
    }
    lastNeedsAttention_ = needs;
}

void CodeReceiver::setPopoverVisible(bool visible) {
    popoverVisible_ = visible;
    pollTask_.cancel();
    pollTask_ = TaskHandle();
    settings_.refreshLaunchAtLogin();
    changeProbe([&](SetupProbe& probe) { probe.launchAtLogin = settings_.launchAtLogin(); });
    if (visible && !isPreview_) {
        pollTask_ = services_.mainActor.spawn(
            pollWhileOpen(QPointer<CodeReceiver>(this), services_.mainActor));
    }
}

void CodeReceiver::startIdlePolling() {
    idlePollTask_.cancel();
    idlePollTask_ = services_.mainActor.spawn(
        pollInTheBackground(QPointer<CodeReceiver>(this), services_.mainActor, settings_));
}

void CodeReceiver::installWakeObservers() {
    using Event = Workspace::Event;
    const QPointer<CodeReceiver> receiver(this);
    for (const Event event :
         {Event::willSleep, Event::screensDidSleep, Event::sessionDidResignActive}) {
        wakeObservers_.append(services_.workspace.addObserver(event, [receiver] {
            if (receiver) {
                receiver->awake_ = false;
            }
        }));
    }
    for (const Event event :
         {Event::didWake, Event::screensDidWake, Event::sessionDidBecomeActive}) {
        wakeObservers_.append(services_.workspace.addObserver(event, [receiver] {
            if (receiver) {
                receiver->awake_ = true;
                receiver->services_.mainActor.spawn(fetchOnce(receiver));
            }
        }));
    }
}

void CodeReceiver::handleRemoteNotification(const QVariantMap& userInfo) {
    changeInfo([&](DiagnosticsInfo& info) { info.lastPushAt = services_.mainActor.now(); });
    const auto notification = CloudNotification::fromRemoteNotification(userInfo);
    const auto subscription = notification ? notification->subscriptionID : std::nullopt;
    log_.info("push received: subscription %{public}s", orQuestionMark(subscription));
    if (subscription && *subscription != QLatin1String(subscriptionID)) {
        return;
    }
    services_.mainActor.spawn(fetchOnce(QPointer<CodeReceiver>(this)));
}

void CodeReceiver::setPushRegistration(bool success, std::optional<QString> error) {
    changeProbe([&](SetupProbe& probe) {
        probe.pushRegistered = success;
        probe.pushError = success ? std::nullopt : error;
    });
    if (error) {
        changeInfo([&](DiagnosticsInfo& info) { info.lastError = error; });
    }
    if (success) {
        log_.info("push registered");
    } else {
        log_.error("push registration failed: %{public}s", orQuestionMark(error));
    }
}

void CodeReceiver::setLayoutNote(const QString& note) {
    changeInfo([&](DiagnosticsInfo& info) { info.layout = note; });
}
